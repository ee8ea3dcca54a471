#include "readerwriter.h"

#include "messaginglog.h"

#include <QAbstractSocket>
#include <QDateTime>
#include <QDir>

const char kUploadDirName[] = "upload";

ReaderWriter::ReaderWriter() = default;
ReaderWriter::~ReaderWriter() = default;

void ReaderWriter::writeHeader(const Command &command, QIODevice *device)
{
    device->write(encodeHeader(command));
}

void ReaderWriter::writePayload(const Command &command, QIODevice *device)
{
    device->write(payloadBytes(command));
    if (auto *socket = qobject_cast<QAbstractSocket *>(device))
        socket->flush();
}

void ReaderWriter::writeCommand(const Command &command, QIODevice *device)
{
    writeHeader(command, device);
    writePayload(command, device);
}

bool ReaderWriter::readHeader(Command &command, QIODevice *device)
{
    return decodeHeader(device->read(kHeaderSize), command);
}

void ReaderWriter::appendPayload(Command &command, QIODevice *device)
{
    // The QByteArray overload of fromLatin1 stops at the first NUL; payloads may hold any byte.
    const QByteArray bytes = device->readAll();
    command.payload += QString::fromLatin1(bytes.constData(), bytes.size());
}

bool ReaderWriter::writeChunk(const QByteArray &bytes, QAbstractSocket *socket)
{
    socket->write(bytes);
    socket->flush();
    return socket->bytesToWrite() == 0 || socket->waitForBytesWritten(kChunkWriteTimeoutMs);
}

bool ReaderWriter::openReceiveFile(QString *failure)
{
    QDir cwd = QDir::current();
    if (!cwd.exists(QLatin1String(kUploadDirName)) && !cwd.mkdir(QLatin1String(kUploadDirName))) {
        *failure = QStringLiteral("Unable to create directory: %1")
                       .arg(cwd.filePath(QLatin1String(kUploadDirName)));
        return false;
    }
    const QString base = cwd.absolutePath() + QLatin1Char('/') + QLatin1String(kUploadDirName);
    // Names come from the clock; a second file in the same millisecond waits for the next one.
    do {
        receiveFile.setFileName(base + QLatin1Char('/') +
                                QString::number(QDateTime::currentMSecsSinceEpoch()) +
                                QLatin1String(".tmp"));
    } while (receiveFile.exists());
    fileName = receiveFile.fileName();
    if (!receiveFile.open(QIODevice::WriteOnly)) {
        *failure = QStringLiteral("Unable to create file: %1 (%2)")
                       .arg(fileName, receiveFile.errorString());
        return false;
    }
    return true;
}

ReaderWriter::ReadStatus ReaderWriter::readIncoming(QAbstractSocket *socket,
                                                    bool (*fileCarrying)(quint8),
                                                    QString *failure)
{
    if (expectHeader) {
        if (socket->bytesAvailable() < kHeaderSize)
            return ReadStatus::Incomplete;
        readHeader(incoming, socket);
        incoming.payload.clear();
        const int r = checkCommand(incoming);
        if (r != CheckResult::Valid) {
            *failure = QStringLiteral("Received Command Error: %1").arg(r);
            return ReadStatus::Bad;
        }
        // Declared lengths are checked before anything is buffered for them.
        if (incoming.payloadLength < 0) {
            *failure = QStringLiteral("Refused payload length %1 of type %2")
                           .arg(incoming.payloadLength)
                           .arg(incoming.type);
            return ReadStatus::Bad;
        }
        if (!fileCarrying(incoming.type) && incoming.payloadLength > kMaxTextPayload) {
            *failure = QStringLiteral("Refused text payload of %1 bytes (limit %2) of type %3")
                           .arg(incoming.payloadLength)
                           .arg(kMaxTextPayload)
                           .arg(incoming.type);
            return ReadStatus::Bad;
        }
        if (fileCarrying(incoming.type) && !openReceiveFile(failure))
            return ReadStatus::Bad;
    }

    bool complete;
    if (fileCarrying(incoming.type)) {
        const QByteArray bytes = socket->readAll();
        if (!bytes.isEmpty() &&
            (receiveFile.write(bytes) != bytes.size() || !receiveFile.flush())) {
            *failure = QStringLiteral("Unable to write file: %1 (%2)")
                           .arg(fileName, receiveFile.errorString());
            // A file that can never be completed is of no use to anyone.
            receiveFile.remove();
            return ReadStatus::Bad;
        }
        complete = quint32(incoming.payloadLength) <= quint64(receiveFile.size());
    } else {
        appendPayload(incoming, socket);
        complete = quint32(incoming.payloadLength) <= quint32(incoming.payload.size());
    }

    if (!complete) {
        expectHeader = false;
        return ReadStatus::Incomplete;
    }
    receiveFile.close();
    expectHeader = true;
    return ReadStatus::Complete;
}

bool ReaderWriter::sendNextChunk(QAbstractSocket *socket, int *percent)
{
    const QByteArray chunk = sendFile.read(kFileChunkSize);
    if (chunk.isEmpty()) {
        sendFile.close();
        uploading = false;
        return false;
    }
    if (!writeChunk(chunk, socket))
        qCWarning(lcMessaging) << "chunk not written within" << kChunkWriteTimeoutMs << "ms";
    bytesSent += chunk.size();
    const qint64 total = sendFile.size();
    const float ratio = float(double(bytesSent) / double(total > 0 ? total : 1));
    *percent = int(ratio * 100.0);
    return true;
}

void ReaderWriter::shutDown(QAbstractSocket *socket)
{
    if (socket) {
        socket->flush();
        // The socket goes with the endpoint, so what is still queued must leave first.
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(kChunkWriteTimeoutMs);
        socket->close();
        socket->disconnectFromHost();
        socket->disconnect();
    }
    sendFile.close();
    receiveFile.close();
}
