#include "managerlink.h"

#include <QFile>
#include <QTcpSocket>
#include <limits>

namespace
{

bool writeAll(QTcpSocket &socket, const QByteArray &bytes, QString *error)
{
    if (socket.write(bytes) != bytes.size()) {
        *error = socket.errorString();
        return false;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(ManagerLink::kTimeoutMs)) {
            *error = socket.errorString();
            return false;
        }
    }
    return true;
}

} // namespace

ManagerLink::ManagerLink(const QString &host, int port) : host(host), port(port) {}

QString ManagerLink::errorText() const
{
    return error;
}

bool ManagerLink::send(const Command &request)
{
    return sendFile(request, QString());
}

bool ManagerLink::sendFile(Command request, const QString &path)
{
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    QFile file(path);
    QByteArray payload;
    if (!path.isEmpty()) {
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        if (file.size() > std::numeric_limits<qint32>::max()) {
            error = QStringLiteral("%1 is too large to send (more than 2 GiB)").arg(path);
            return false;
        }
        request.payloadLength = qint32(file.size());
    } else {
        payload = payloadBytes(request);
        request.payloadLength = payload.size();
    }

    QTcpSocket socket;
    socket.connectToHost(host, quint16(port));
    if (!socket.waitForConnected(kTimeoutMs)) {
        error =
            QStringLiteral("cannot reach the server at %1: %2").arg(where, socket.errorString());
        return false;
    }
    QString why;
    bool ok = writeAll(socket, encodeHeader(request) + payload, &why);
    // The file goes in chunks, never read whole into memory.
    while (ok && file.isOpen() && !file.atEnd()) {
        const QByteArray chunk = file.read(kChunkSize);
        if (chunk.isEmpty() && !file.atEnd()) {
            why = file.errorString();
            ok = false;
            break;
        }
        ok = writeAll(socket, chunk, &why);
    }
    if (!ok) {
        error = QStringLiteral("sending to the server at %1 failed: %2").arg(where, why);
        socket.abort();
        return false;
    }
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(kTimeoutMs);
    return true;
}
