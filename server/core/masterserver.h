#pragma once

#include "command.h"
#include "databaseconnection.h"
#include "job.h"
#include "serversettings.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

class AgentServer;
class ManagerServer;
class QTimer;
class QUdpSocket;
class QWsServer;
class QWsSocket;

// The observer marks machines offline whose agents stayed silent for one period.
constexpr int kObserverPeriodMs = 60000;

// The server's central object. It lives in the server thread and owns everything the server
// does there: the log file, the configuration, the default database connection and (as they
// arrive) the listeners and the observer timer. The window only shows what it emits.
class MasterServer : public QObject
{
    Q_OBJECT
public:
    // programDir overrides the directory of Server.ini, Server.log and a relative embedded
    // database file; empty means the executable's directory.
    explicit MasterServer(const QString &programDir = QString(), QObject *parent = nullptr);
    ~MasterServer() override;

    // Headless mode: every log entry is also written to standard output.
    void setEchoToStandardOutput(bool echo);

    const ServerSettings &serverSettings() const;
    QString programDirectory() const;
    AgentServer *agentListener() const { return agentServer; }

    // Closes or advances one assignment and tells the managers that a job's state changed.
    void updateJobMachineState(int jobMachineId, int status, int active);
    static Command makeBlindPacket(int id);
    // Presence as the observer sees it, for the window and for tests.
    const QStringList &managers() const { return connectedManagers; }
    const QList<int> &onlineMachines() const { return onlineAgents; }
    int webClientCount() const { return webClients.size(); }

signals:
    void writeUILog(QString Msg);
    void writeConnectionsLog(QString msg, int componentType, bool clear = false);
    void addPendingJobMachineId(QList<Job> jobList);
    void cleanPendingJobMachineId();
    // A listener could not bind its port (already logged). A server without a window exits
    // on it, so that its service manager restarts it instead of leaving it half-deaf.
    void listenFailed(int port);

public slots:
    void init();
    void writeLog(QString msg);
    void jobCheck(int uid);
    void jobCheck();
    void sendBPList(QList<Job> list);
    void informAdmins(TCommand *cmd);
    void checkDB();
    void discoveryCheck();
    void managerConnected(QString managerIp);
    void agentConnected(QString agentIP, int agentID);
    void onClientConnection();
    void refreshAgentListOnManager();
    void onDataReceived(QString data);
    void onPong(quint64 elapsedTime);
    void onClientDisconnection();

private slots:
    void observerTimeoutSlot();

private:
    bool openLogFile();
    void readConfiguration();
    bool startServers();
    void startWebSocketServer();
    void writeLogFile(const QString &msg);
    void startObserver();
    void observeMachines(bool firstRun);
    void refreshManagerList();
    void sendDatagram(const Command &command, const QString &address, int port);
    void sendToWebClients(const QString &message);

    QString programDirOverride;
    QString programDir;
    QFile logFile;
    ServerSettings settings;
    DatabaseConnection dbConnection;
    ManagerServer *managerServer = nullptr;
    AgentServer *agentServer = nullptr;
    QStringList connectedManagers;
    QStringList unconfirmedManagers;
    QList<int> agentsSeenThisPeriod;
    QList<int> onlineAgents;
    QTimer *observerTimer = nullptr;
    QUdpSocket *udpSocket = nullptr;
    QWsServer *webSocketServer = nullptr;
    QList<QWsSocket *> webClients;
    bool echoToStandardOutput = false;
};
