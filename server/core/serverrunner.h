#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>

class MasterServer;

// Runs a MasterServer in a thread of its own: the server is moved there, the thread's
// started() runs init(), and on destruction the thread is ended and the server deleted in it.
class ServerRunner : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of server, which must have no parent.
    explicit ServerRunner(MasterServer *server, QObject *parent = nullptr);
    ~ServerRunner() override;

    MasterServer *masterServer() const;
    QThread *serverThread() const;
    void start();

private:
    QPointer<MasterServer> server;
    QThread *workerThread = nullptr;
};
