#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// One agent service as installed on a machine: the program copied into a directory of its
// own with its Agent.ini, its own blind-packet port, and the fixture probes in place of the
// machine's management interface and software list.
//
//     AgentProcess agent(serverAgentPort, fixture);
//     QVERIFY(agent.start(true));          // registers at start-up
//     QVERIFY(agent.waitForIdentity());
class AgentProcess
{
public:
    AgentProcess(int serverPort, const QString &inventoryFixture);
    ~AgentProcess();
    AgentProcess(const AgentProcess &) = delete;
    AgentProcess &operator=(const AgentProcess &) = delete;

    // The software list the registry probe reports (a JSON document).
    bool setRegistry(const QByteArray &json);
    // Copies the program on the first call, writes Agent.ini and starts it; it never polls,
    // so only blind packets bring it to the server after start-up.
    bool start(bool negotiateOnStartup);
    // Ends the service with SIGTERM (kill after a grace period); false if it was not running.
    bool stop();
    bool isRunning() const;

    // Waits until the server's identity is in Agent.key; 0 on timeout.
    int waitForIdentity(int timeoutMs = 20000);
    int machineId() const;
    int udpPort() const { return agentPort; }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    QByteArray log() const;
    QByteArray output();

private:
    QTemporaryDir dir;
    QProcess process;
    QByteArray collected;
    QString fixture;
    int serverPort = 0;
    int agentPort = 0;
};
