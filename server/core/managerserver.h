#pragma once

#include <QTcpServer>

class MasterServer;

// Listener for the web manager. Each accepted connection gets its own handler, which takes
// one request and releases itself when the manager closes the connection.
class ManagerServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit ManagerServer(MasterServer *masterServer, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    MasterServer *masterServer;
};
