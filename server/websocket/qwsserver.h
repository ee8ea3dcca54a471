#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QQueue>

class QTcpServer;
class QTcpSocket;
class QWsSocket;

// WebSocket listener: answers hixie-76 and RFC 6455 opening handshakes and queues the
// upgraded connections for its owner.
class QWsServer : public QObject
{
    Q_OBJECT
public:
    explicit QWsServer(QObject *parent = nullptr);
    ~QWsServer() override;

    bool listen(const QHostAddress &address = QHostAddress::Any, quint16 port = 0);
    void close();
    bool isListening() const;
    quint16 serverPort() const;
    QString errorString() const;
    // Upgraded connections beyond this many untaken ones are refused.
    int maxPendingConnections() const;
    void setMaxPendingConnections(int count);
    bool hasPendingConnections() const;

    // The oldest upgraded connection not yet taken, or nullptr when there is none.
    virtual QWsSocket *nextPendingConnection();
    // Wraps a descriptor that already carries RFC 6455 framing; no handshake is read.
    virtual void adoptDescriptor(int socketDescriptor);

signals:
    void newConnection();

public slots:
    void newTcpConnection();
    void dataReceived();

private:
    void forgetSocket(QTcpSocket *socket);
    bool queueFull() const;

    QTcpServer *tcpServer;
    QQueue<QWsSocket *> pendingConnections;
    QHash<QTcpSocket *, QByteArray> handshakeBuffers; // partial requests, per connection
};
