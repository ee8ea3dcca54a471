#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

// One upgraded WebSocket connection: hixie-76 framing for version 0, RFC 6455 framing otherwise.
class QWsSocket : public QAbstractSocket
{
    Q_OBJECT
public:
    // Largest payload of one outgoing frame when the caller gives no limit.
    static constexpr int defaultFrameLimit = 1400;

    // pendingBytes: what the client sent right behind its handshake; read as frames.
    QWsSocket(QTcpSocket *socket, QObject *parent, quint8 protocolVersion,
              const QByteArray &pendingBytes = QByteArray());
    ~QWsSocket() override;

    qint64 sendText(const QString &message, int frameLimit = 0);
    qint64 sendBinary(const QByteArray &data, int frameLimit = 0);
    quint8 version() const { return protocolVersion; }
    // The base would report a disconnection without closing anything; this closes for real.
    void disconnectFromHost() override;

signals:
    void frameReceived(QString frame);
    void frameReceived(QByteArray frame);
    void pong(quint64 elapsedTime);

public slots:
    virtual void close(QString reason);
    void close() override;
    void ping();
    void dataReceived();
    void tcpSocketAboutToClose();
    void tcpSocketDisconnected();

private:
    void readHybiFrames();
    void readHixieFrames();
    void handleHybiFrame(bool fin, quint8 opcode, const QByteArray &payload);
    void deliverMessage();
    void failConnection(const QString &why);
    qint64 writeFrames(const QList<QByteArray> &frames);
    qint64 writeRaw(const QByteArray &bytes);
    QString peerText() const;

    // Not owned (it stays a child of the listener's TCP server), but released with this object.
    QPointer<QTcpSocket> tcpSocket;
    QByteArray messageBuffer;
    QElapsedTimer pingTimer;
    quint8 protocolVersion;
    QByteArray inputBuffer;   // bytes of a frame that has not fully arrived
    quint8 messageOpcode = 0; // opcode of the first frame of the message being assembled
    bool closing = false;
};
