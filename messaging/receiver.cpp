#include "receiver.h"

#include "socketerrortext.h"

#include <QAtomicInt>
#include <QHostAddress>

static QAtomicInt liveReceivers;

Receiver::Receiver(QAbstractSocket *socket, QObject *parent) : QObject(parent), socket(socket)
{
    liveReceivers.ref();
    socket->setParent(this);
    connect(socket, &QAbstractSocket::errorOccurred, this, &Receiver::displayError);
    connect(socket, &QAbstractSocket::readyRead, this, &Receiver::receiveRequest);
    // Nothing else follows a closed connection, so its handler is released with it.
    connect(socket, &QAbstractSocket::disconnected, this, &Receiver::close,
            Qt::QueuedConnection);
    connect(this, &Receiver::writeFileChunkSignal, this, &Receiver::writeFileChunkSlot,
            Qt::QueuedConnection);
    connect(this, &Receiver::fileUploadStatusSignal, this, &Receiver::fileUploadStatusSlot,
            Qt::QueuedConnection);
}

Receiver::~Receiver()
{
    liveReceivers.deref();
}

int Receiver::liveCount()
{
    return liveReceivers.loadAcquire();
}

bool Receiver::isFileCarrying(quint8 type)
{
    return type == CommandType::FileUpload || type == CommandType::FileTransfer;
}

QString Receiver::peerText() const
{
    return socket->peerAddress().toString();
}

void Receiver::sendResponse(const Command &command)
{
    logMessage(QStringLiteral("Send response to: %1").arg(peerText()));
    writeCommand(command, socket);
}

void Receiver::sendResponseWithFile(const Command &command)
{
    logMessage(QStringLiteral("Send response to: %1").arg(peerText()));
    writeHeader(command, socket);
    bytesSent = 0;
    uploading = true;
    emit writeFileChunkSignal();
}

void Receiver::receiveRequest()
{
    if (closing)
        return;
    QString failure;
    switch (readIncoming(socket, &Receiver::isFileCarrying, &failure)) {
    case ReadStatus::Incomplete:
        return;
    case ReadStatus::Bad:
        logMessage(failure);
        close();
        return;
    case ReadStatus::Complete:
        break;
    }
    if (phase == 1) {
        logMessage(QStringLiteral("Receive request from: %1").arg(peerText()));
        processRequest(incoming);
        incoming.payload.clear();
        phase = 2;
    } else if (phase == 2) {
        logMessage(QStringLiteral("Receive report from: %1").arg(peerText()));
        processReport(incoming);
        incoming.payload.clear();
        phase = 3;
    } else {
        close();
    }
}

void Receiver::displayError(QAbstractSocket::SocketError socketError)
{
    logMessage(socketErrorText(socketError));
    if (uploading)
        emit fileUploadStatusSignal(-1);
}

void Receiver::close()
{
    if (closing)
        return;
    closing = true;
    shutDown(socket);
    emit closed();
    disconnect();
    deleteLater();
}

void Receiver::writeFileChunkSlot()
{
    if (closing)
        return;
    int percent = 0;
    if (sendNextChunk(socket, &percent)) {
        emit writeFileChunkSignal();
        emit fileUploadStatusSignal(percent);
    } else {
        emit fileUploadStatusSignal(100);
    }
}

void Receiver::fileUploadStatusSlot(int) {}
