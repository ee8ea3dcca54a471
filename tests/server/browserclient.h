#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTcpSocket>

// A browser page as the server sees it: the RFC 6455 handshake on a loopback port, masked
// text frames out, the server's text frames collected in arrival order.
class BrowserClient : public QObject
{
    Q_OBJECT
public:
    explicit BrowserClient(QObject *parent = nullptr);

    // Connects and completes the handshake; false when the server does not upgrade in time.
    bool open(int port, int timeoutMs = 5000);
    void sendText(const QByteArray &text);
    // Waits until the next text not yet taken arrives and returns it (empty on timeout).
    QString takeText(int timeoutMs = 5000);
    void abort();

    QStringList received;

private slots:
    void readSome();

private:
    QTcpSocket socket;
    QByteArray buffer;
    bool upgraded = false;
    bool failed = false;
    int taken = 0;
};
