#pragma once

#include "command.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class MasterServer;
class PgCluster;
class QTcpSocket;
class QUdpSocket;

// One MasterServer run in the test's own thread against a throwaway cluster: its own
// directory (Server.ini, Server.log, and the working directory that holds upload/), free
// ports, every log entry collected. Managers and agents are played over loopback.
class ServerHarness
{
public:
    explicit ServerHarness(PgCluster &pg);
    ~ServerHarness();
    ServerHarness(const ServerHarness &) = delete;
    ServerHarness &operator=(const ServerHarness &) = delete;

    // Writes Server.ini (the cluster, free ports, then extraLines, which win), makes the
    // directory current and runs init().
    bool start(const QStringList &extraLines = QStringList());

    MasterServer *server() const { return masterServer.get(); }
    QString path() const { return dir.path(); }
    int serverManagerPort() const;
    int serverAgentPort() const;
    int managerPort() const;
    int agentPort() const;
    int webSocketPort() const;

    // One manager connection carrying one request (and a file for uploads); returns once the
    // server has handled it.
    bool managerRequest(quint8 type, int adminId, int reference = 0,
                        const QByteArray &file = QByteArray());
    // An agent's hello on the agent port; returns once the server has closed the exchange.
    bool agentHello(int uuid, const QString &computerName);
    // One observer period, without waiting for it.
    void tick();

    bool waitForMessage(const QString &message, int count = 1, int timeoutMs = 10000) const;
    QStringList messages;

    // Reads a UDP socket bound on loopback: the next datagram as a Command.
    static bool takeDatagram(QUdpSocket &socket, Command *command, quint16 *senderPort = nullptr,
                             int timeoutMs = 5000);
    // The types of every datagram up to and including the observer tick notice.
    static QList<int> typesUntilTick(QUdpSocket &socket, int timeoutMs = 5000);
    // One integer column of a query on the server's own connection, in row order.
    static QList<int> column(const QString &sql);

private:
    PgCluster &pg;
    QTemporaryDir dir;
    QString previousDir;
    std::unique_ptr<MasterServer> masterServer;
    QList<QTcpSocket *> sockets;
};
