#include "sender.h"

#include "socketerrortext.h"

#include <QAtomicInt>
#include <QHostAddress>
#include <QTcpSocket>

static QAtomicInt liveSenders;

Sender::Sender(const QString &host, int port, QObject *parent)
    : QObject(parent), port(port), host(host)
{
    liveSenders.ref();
}

Sender::~Sender()
{
    liveSenders.deref();
}

int Sender::liveCount()
{
    return liveSenders.loadAcquire();
}

bool Sender::isFileCarrying(quint8 type)
{
    return type == CommandType::Deploy || type == CommandType::FileUpload ||
           type == CommandType::FileTransfer || type == CommandType::DeployWithSwitches;
}

void Sender::openConnection()
{
    socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &Sender::sendRequest);
    connect(socket, &QTcpSocket::readyRead, this, &Sender::receiveResponse);
    connect(socket, &QTcpSocket::disconnected, this, &Sender::close);
    connect(socket, &QAbstractSocket::errorOccurred, this, &Sender::displayError);
    connect(this, &Sender::writeFileChunkSignal, this, &Sender::writeFileChunkSlot,
            Qt::QueuedConnection);
    connect(this, &Sender::fileUploadStatusSignal, this, &Sender::fileUploadStatusSlot,
            Qt::QueuedConnection);
    state = 0;
    expectHeader = true;
    socket->connectToHost(QHostAddress(host), quint16(port), QIODevice::ReadWrite);
}

void Sender::sendRequest()
{
    logMessage(QStringLiteral("Send request to: %1").arg(host));
    const Command request = buildRequest();
    if (request.type == CommandType::FileUpload) {
        writeHeader(request, socket);
        bytesSent = 0;
        uploading = true;
        emit writeFileChunkSignal();
    } else {
        writeCommand(request, socket);
    }
}

void Sender::receiveResponse()
{
    if (closing)
        return;
    QString failure;
    switch (readIncoming(socket, &Sender::isFileCarrying, &failure)) {
    case ReadStatus::Incomplete:
        return;
    case ReadStatus::Bad:
        logMessage(failure);
        close();
        return;
    case ReadStatus::Complete:
        break;
    }
    if (state == 0) {
        logMessage(QStringLiteral("Receive response from: %1").arg(host));
        processResponse(incoming);
        state = 3;
    } else {
        close();
    }
}

void Sender::displayError(QAbstractSocket::SocketError socketError)
{
    logMessage(socketErrorText(socketError));
    socketErrorOccurred();
    // A connection that never came up emits no disconnected(); release it all the same.
    if (socket && socket->state() == QAbstractSocket::UnconnectedState)
        QMetaObject::invokeMethod(this, &Sender::close, Qt::QueuedConnection);
}

void Sender::socketErrorOccurred() {}

void Sender::close()
{
    if (closing)
        return;
    closing = true;
    shutDown(socket);
    emit closed();
    disconnect();
    deleteLater();
}

void Sender::writeFileChunkSlot()
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

void Sender::fileUploadStatusSlot(int) {}
