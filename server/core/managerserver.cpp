#include "managerserver.h"

#include "managerserverreceiver.h"

#include <QTcpSocket>

ManagerServer::ManagerServer(MasterServer *masterServer, QObject *parent)
    : QTcpServer(parent), masterServer(masterServer)
{
}

void ManagerServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite)) {
        delete socket;
        return;
    }
    // Not parented to the listener: the handler releases itself when its connection ends.
    new ManagerServerReceiver(socket, masterServer);
}
