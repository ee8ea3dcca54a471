#pragma once

#include "agentprocess.h"
#include "browserclient.h"
#include "managerside.h"
#include "serverprocess.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>
#include <vector>

class PgCluster;

// One installation on loopback for one test case, so that no case sees another's rows,
// files or processes: the tables of the program's cluster emptied, the server program on
// free ports with a short observer period, the web manager's side (tool, notices, presence)
// and one browser page. Cases add the agents they need.
//
//     IntegrationSystem system(pg);
//     QVERIFY(system.start());
//     AgentProcess &agent = system.addAgent();
//     QVERIFY(system.registerAgents({&agent}));
class IntegrationSystem
{
public:
    // Offline marking shows within seconds; the manager renews its presence well within it.
    static constexpr int kObserverPeriodMs = 3000;
    static constexpr int kPresenceIntervalMs = 1000;
    // Results, alarms and registrations on a busy two-core machine.
    static constexpr int kWaitMs = 30000;

    explicit IntegrationSystem(PgCluster &pg);
    ~IntegrationSystem();
    IntegrationSystem(const IntegrationSystem &) = delete;
    IntegrationSystem &operator=(const IntegrationSystem &) = delete;

    // Empties the tables and starts the server, the manager side and the browser page;
    // false, with a warning saying which, when one of them fails.
    bool start();

    // A new agent service on the fixture machine, not started yet.
    AgentProcess &addAgent();
    // Starts agents that register at start-up; true once each has its identity and is
    // online.
    bool registerAgents(const QList<AgentProcess *> &agents);

    ServerProcess &server() { return *serverProcess; }
    ManagerSide &manager() { return *managerSide; }
    BrowserClient &browser() { return page; }
    int webSocketPort() const
    {
        return ServerProcess::portIn(ports, QStringLiteral("WebSocketPort"));
    }
    QString serverFilePath(const QString &name) const { return serverDir.filePath(name); }

    QVariant value(const QString &sql) { return managerSide->value(sql); }
    // count(*) of "FROM ..." text.
    int count(const QString &fromClause);
    // A job for one machine through the tool, then a job check; the assignment, or 0.
    int runJob(const QStringList &options, int machineId);

    // Waits until the page has received this text among those it has not taken yet.
    static bool hears(BrowserClient &page, const QString &text, int timeoutMs = kWaitMs);

private:
    PgCluster &pg;
    QTemporaryDir serverDir;
    QStringList ports;
    std::unique_ptr<ServerProcess> serverProcess;
    std::unique_ptr<ManagerSide> managerSide;
    BrowserClient page;
    std::vector<std::unique_ptr<AgentProcess>> agents;
};
