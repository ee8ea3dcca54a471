#include "qwssocket.h"

#include "websocketlog.h"
#include "wsframe.h"

namespace
{

// Control frames carry at most this much payload; a longer ping is answered without echo.
constexpr int maxControlPayload = 125;

QByteArray twoBytes(quint8 first, quint8 second)
{
    QByteArray bytes;
    bytes.append(char(first));
    bytes.append(char(second));
    return bytes;
}

// hixie-76 carries every message as 0x00, its bytes, 0xFF.
QByteArray hixieFrame(const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 2);
    frame.append(char(0x00));
    frame.append(payload);
    frame.append(char(0xFF));
    return frame;
}

} // namespace

QWsSocket::QWsSocket(QTcpSocket *socket, QObject *parent, quint8 protocolVersion,
                     const QByteArray &pendingBytes)
    : QAbstractSocket(QAbstractSocket::UnknownSocketType, parent), tcpSocket(socket),
      protocolVersion(protocolVersion), inputBuffer(pendingBytes)
{
    setPeerAddress(socket->peerAddress());
    setPeerPort(socket->peerPort());
    setPeerName(socket->peerName());
    setLocalAddress(socket->localAddress());
    setLocalPort(socket->localPort());
    setSocketState(socket->state());

    connect(socket, &QTcpSocket::readyRead, this, &QWsSocket::dataReceived);
    connect(socket, &QTcpSocket::disconnected, this, &QWsSocket::tcpSocketDisconnected);
    connect(socket, &QTcpSocket::aboutToClose, this, &QWsSocket::tcpSocketAboutToClose);
    connect(socket, &QTcpSocket::stateChanged, this,
            [this](QAbstractSocket::SocketState state) { setSocketState(state); });

    // Frames sent right behind the handshake are read once the owner had a chance to connect.
    if (!inputBuffer.isEmpty() || socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &QWsSocket::dataReceived, Qt::QueuedConnection);
}

QWsSocket::~QWsSocket()
{
    // The base would otherwise try to abort a socket it never opened.
    setSocketState(QAbstractSocket::UnconnectedState);
    if (tcpSocket) {
        tcpSocket->disconnect(this);
        tcpSocket->deleteLater();
    }
}

qint64 QWsSocket::sendText(const QString &message, int frameLimit)
{
    const QByteArray utf8 = message.toUtf8();
    if (protocolVersion == 0)
        return writeRaw(hixieFrame(utf8));
    return writeFrames(WsFrame::splitIntoFrames(utf8, false, frameLimit, false));
}

qint64 QWsSocket::sendBinary(const QByteArray &data, int frameLimit)
{
    if (protocolVersion == 0)
        return writeRaw(hixieFrame(data));
    // A server never masks: clients must fail a connection that sends them masked frames.
    return writeFrames(WsFrame::splitIntoFrames(data, true, frameLimit, false));
}

void QWsSocket::close(QString reason)
{
    if (!tcpSocket || closing)
        return;
    closing = true;
    qCDebug(lcWebSocket) << "closing connection to" << peerText() << reason;
    if (tcpSocket->state() == QAbstractSocket::ConnectedState)
        writeRaw(protocolVersion == 0 ? twoBytes(0xFF, 0x00) : twoBytes(0x88, 0x00));
    tcpSocket->close();
}

void QWsSocket::close()
{
    close(QString());
}

void QWsSocket::disconnectFromHost()
{
    close(QString());
}

void QWsSocket::ping()
{
    pingTimer.start();
    writeRaw(twoBytes(0x89, 0x00));
}

void QWsSocket::dataReceived()
{
    if (!tcpSocket)
        return;
    inputBuffer += tcpSocket->readAll();
    if (closing) {
        inputBuffer.clear();
        return;
    }
    if (protocolVersion == 0)
        readHixieFrames();
    else
        readHybiFrames();
}

void QWsSocket::tcpSocketAboutToClose()
{
    emit aboutToClose();
}

void QWsSocket::tcpSocketDisconnected()
{
    setSocketState(QAbstractSocket::UnconnectedState);
    emit disconnected();
}

void QWsSocket::readHybiFrames()
{
    // A slot reached from a signal below may close this connection; stop reading then.
    QPointer<QWsSocket> self(this);
    while (self && !closing && !inputBuffer.isEmpty()) {
        const WsFrame::HybiParse p = WsFrame::parseHybiFrame(inputBuffer);
        if (p.status == WsParseStatus::Incomplete)
            return;
        if (p.status == WsParseStatus::Bad) {
            failConnection(p.error);
            return;
        }
        inputBuffer.remove(0, p.consumed);
        handleHybiFrame(p.frame.fin, p.frame.opcode, p.frame.payload);
    }
}

void QWsSocket::handleHybiFrame(bool fin, quint8 opcode, const QByteArray &payload)
{
    using namespace WsFrame;
    switch (opcode) {
    case Opcode::Continuation:
        if (messageOpcode == 0) {
            qCDebug(lcWebSocket) << "continuation frame without a message from" << peerText();
            return;
        }
        break;
    case Opcode::Text:
    case Opcode::Binary:
        if (messageOpcode != 0) {
            qCWarning(lcWebSocket) << "new message before the previous one ended from" << peerText()
                                   << "- unfinished message dropped";
            messageBuffer.clear();
        }
        messageOpcode = opcode;
        break;
    case Opcode::Close: {
        // Answer with the peer's status code, as the closing handshake asks, then hang up.
        const QByteArray status = payload.size() >= 2 ? payload.left(2) : QByteArray();
        QByteArray reply = frameHeader(true, Opcode::Close, quint64(status.size()));
        reply += status;
        writeRaw(reply);
        closing = true;
        tcpSocket->close();
        return;
    }
    case Opcode::Ping: {
        const QByteArray echo = payload.size() <= maxControlPayload ? payload : QByteArray();
        writeRaw(frameHeader(true, Opcode::Pong, quint64(echo.size())) + echo);
        return;
    }
    case Opcode::Pong:
        if (!pingTimer.isValid()) {
            qCDebug(lcWebSocket) << "unsolicited pong from" << peerText();
            return;
        }
        emit pong(quint64(pingTimer.elapsed()));
        return;
    default:
        qCDebug(lcWebSocket) << "ignored frame with opcode" << opcode << "from" << peerText();
        return;
    }

    if (quint64(messageBuffer.size()) + quint64(payload.size()) > maxPayloadSize) {
        failConnection(QStringLiteral("message longer than %1 bytes").arg(maxPayloadSize));
        return;
    }
    messageBuffer += payload;
    if (fin)
        deliverMessage();
}

void QWsSocket::deliverMessage()
{
    const QByteArray message = messageBuffer;
    const quint8 opcode = messageOpcode;
    messageBuffer.clear();
    messageOpcode = 0;
    if (opcode == WsFrame::Opcode::Text)
        emit frameReceived(QString::fromUtf8(message));
    else
        emit frameReceived(message);
}

void QWsSocket::readHixieFrames()
{
    QPointer<QWsSocket> self(this);
    while (self && !closing && !inputBuffer.isEmpty()) {
        const WsFrame::HixieParse p = WsFrame::parseHixieFrame(inputBuffer);
        if (p.status == WsParseStatus::Incomplete)
            return;
        if (p.status == WsParseStatus::Bad) {
            failConnection(p.error);
            return;
        }
        inputBuffer.remove(0, p.consumed);
        if (p.kind == WsFrame::HixieKind::Unknown)
            qCDebug(lcWebSocket) << "unknown hixie-76 frame type from" << peerText()
                                 << "- received bytes dropped";
        else if (p.kind == WsFrame::HixieKind::Text && !p.payload.isEmpty())
            emit frameReceived(QString::fromUtf8(p.payload));
    }
}

void QWsSocket::failConnection(const QString &why)
{
    qCWarning(lcWebSocket) << "dropping connection from" << peerText() << ":" << why;
    inputBuffer.clear();
    messageBuffer.clear();
    close(why);
}

qint64 QWsSocket::writeFrames(const QList<QByteArray> &frames)
{
    qint64 written = 0;
    for (const QByteArray &frame : frames)
        written += writeRaw(frame);
    return written;
}

qint64 QWsSocket::writeRaw(const QByteArray &bytes)
{
    if (!tcpSocket)
        return -1;
    return tcpSocket->write(bytes);
}

QString QWsSocket::peerText() const
{
    return peerAddress().toString() + QLatin1Char(':') + QString::number(peerPort());
}
