#include "serverrunner.h"

#include "masterserver.h"

ServerRunner::ServerRunner(MasterServer *server, QObject *parent)
    : QObject(parent), server(server), workerThread(new QThread(this))
{
    server->moveToThread(workerThread);
    connect(workerThread, &QThread::started, server, &MasterServer::init);
    // The server's connections and sockets belong to its thread; delete it there.
    connect(workerThread, &QThread::finished, server, &QObject::deleteLater);
}

ServerRunner::~ServerRunner()
{
    if (workerThread->isRunning()) {
        workerThread->quit();
        workerThread->wait();
    }
    // Never started: nothing deleted it yet.
    delete server.data();
}

MasterServer *ServerRunner::masterServer() const
{
    return server;
}

QThread *ServerRunner::serverThread() const
{
    return workerThread;
}

void ServerRunner::start()
{
    workerThread->start(QThread::InheritPriority);
}
