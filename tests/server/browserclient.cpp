#include "browserclient.h"

#include "wsframe.h"

#include <QTest>

static const char kHandshake[] = "GET /notices HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n"
                                 "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n";

BrowserClient::BrowserClient(QObject *parent) : QObject(parent)
{
    connect(&socket, &QTcpSocket::readyRead, this, &BrowserClient::readSome);
}

bool BrowserClient::open(int port, int timeoutMs)
{
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                         timeoutMs))
        return false;
    socket.write(QString::fromLatin1(kHandshake).arg(port).toLatin1());
    return QTest::qWaitFor([this] { return upgraded || failed; }, timeoutMs) && upgraded;
}

void BrowserClient::sendText(const QByteArray &text)
{
    const QByteArray key("\x21\x43\x65\x07");
    socket.write(WsFrame::frameHeader(true, WsFrame::Opcode::Text, quint64(text.size()), key) +
                 WsFrame::applyMask(text, key));
}

QString BrowserClient::takeText(int timeoutMs)
{
    if (!QTest::qWaitFor([this] { return received.size() > taken; }, timeoutMs))
        return QString();
    return received.at(taken++);
}

void BrowserClient::abort()
{
    socket.abort();
}

void BrowserClient::readSome()
{
    buffer += socket.readAll();
    if (!upgraded) {
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        failed = !buffer.startsWith("HTTP/1.1 101");
        upgraded = !failed;
        buffer.remove(0, end + 4);
        if (failed)
            return;
    }
    for (;;) {
        const WsFrame::HybiParse parse = WsFrame::parseHybiFrame(buffer);
        if (parse.status != WsParseStatus::Ok)
            return;
        buffer.remove(0, parse.consumed);
        if (parse.frame.opcode == WsFrame::Opcode::Text)
            received.append(QString::fromUtf8(parse.frame.payload));
    }
}
