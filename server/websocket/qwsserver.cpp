#include "qwsserver.h"

#include "qwssocket.h"
#include "websocketlog.h"
#include "wshandshake.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace
{

QString peerText(const QTcpSocket *socket)
{
    return socket->peerAddress().toString() + QLatin1Char(':') +
           QString::number(socket->peerPort());
}

} // namespace

QWsServer::QWsServer(QObject *parent) : QObject(parent), tcpServer(new QTcpServer(this))
{
    connect(tcpServer, &QTcpServer::newConnection, this, &QWsServer::newTcpConnection);
}

QWsServer::~QWsServer()
{
    pendingConnections.clear();
    // Sockets go first so that nothing they emit while closing reaches a half-destroyed owner.
    qDeleteAll(findChildren<QWsSocket *>(QString(), Qt::FindDirectChildrenOnly));
    for (QTcpSocket *socket : tcpServer->findChildren<QTcpSocket *>())
        socket->disconnect(this);
    delete tcpServer;
}

bool QWsServer::listen(const QHostAddress &address, quint16 port)
{
    return tcpServer->listen(address, port);
}

void QWsServer::close()
{
    tcpServer->close();
}

bool QWsServer::isListening() const
{
    return tcpServer->isListening();
}

quint16 QWsServer::serverPort() const
{
    return tcpServer->serverPort();
}

QString QWsServer::errorString() const
{
    return tcpServer->errorString();
}

int QWsServer::maxPendingConnections() const
{
    return tcpServer->maxPendingConnections();
}

void QWsServer::setMaxPendingConnections(int count)
{
    tcpServer->setMaxPendingConnections(count);
}

bool QWsServer::hasPendingConnections() const
{
    return !pendingConnections.isEmpty();
}

QWsSocket *QWsServer::nextPendingConnection()
{
    if (pendingConnections.isEmpty())
        return nullptr;
    return pendingConnections.dequeue();
}

void QWsServer::adoptDescriptor(int socketDescriptor)
{
    auto *socket = new QTcpSocket(tcpServer);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        qCWarning(lcWebSocket) << "cannot adopt socket descriptor" << socketDescriptor << ":"
                               << socket->errorString();
        socket->deleteLater();
        return;
    }
    if (queueFull()) {
        qCWarning(lcWebSocket) << "refusing adopted connection from" << peerText(socket)
                               << ": pending queue full";
        socket->abort();
        socket->deleteLater();
        return;
    }
    pendingConnections.enqueue(new QWsSocket(socket, this, 13));
    emit newConnection();
}

void QWsServer::newTcpConnection()
{
    while (QTcpSocket *socket = tcpServer->nextPendingConnection()) {
        qCDebug(lcWebSocket) << "connection from" << peerText(socket);
        connect(socket, &QTcpSocket::readyRead, this, &QWsServer::dataReceived);
        // A client that leaves before upgrading takes nothing with it.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forgetSocket(socket); });
    }
}

void QWsServer::dataReceived()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket)
        return;
    QByteArray &buffer = handshakeBuffers[socket];
    buffer += socket->readAll();

    for (;;) {
        const WsHandshake::Parse parse = WsHandshake::parseRequest(buffer);
        if (parse.status == WsParseStatus::Incomplete)
            return;
        if (parse.status == WsParseStatus::Bad) {
            qCWarning(lcWebSocket)
                << "handshake refused from" << peerText(socket) << ":" << parse.error;
            if (buffer.size() > WsHandshake::maxRequestSize) {
                socket->abort();
                forgetSocket(socket);
                return;
            }
            // Unanswered, the client may try again on the same connection.
            buffer.remove(0, parse.consumed);
            if (buffer.isEmpty())
                return;
            continue;
        }

        const QByteArray rest = buffer.mid(parse.consumed);
        handshakeBuffers.remove(socket);
        socket->disconnect(this);
        if (queueFull()) {
            qCWarning(lcWebSocket)
                << "refusing connection from" << peerText(socket) << ": pending queue full";
            socket->abort();
            socket->deleteLater();
            return;
        }
        socket->write(WsHandshake::response(parse.request));
        socket->flush();
        // Versions beyond 8 bits must still select RFC 6455 framing.
        const int version = parse.request.handshakeVersion;
        const quint8 protocolVersion = quint8(qBound(0, version, 255));
        pendingConnections.enqueue(new QWsSocket(socket, this, protocolVersion, rest));
        qCDebug(lcWebSocket) << "upgraded" << peerText(socket) << "version" << version;
        emit newConnection();
        return;
    }
}

void QWsServer::forgetSocket(QTcpSocket *socket)
{
    handshakeBuffers.remove(socket);
    socket->disconnect(this);
    socket->deleteLater();
}

bool QWsServer::queueFull() const
{
    return pendingConnections.size() >= tcpServer->maxPendingConnections();
}
