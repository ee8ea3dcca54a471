#pragma once

#include "command.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <atomic>

class QFile;
class QThread;
struct AgentSettings;
class QTimer;
class UdpServer;
class Worker;

// The agent's central object: settings, identity, log, and when to contact the server.
class Agent : public QObject
{
    Q_OBJECT
public:
    // `directory` holds Agent.ini, Agent.key and Agent.log; the program's directory by default.
    explicit Agent(bool logging, const QString &directory = QString(), QObject *parent = nullptr);
    ~Agent() override;

    void setLogging(bool on);
    QString directory() const { return baseDirectory; }
    // The tray's manual disconnect: every open job connection closes.
    Q_INVOKABLE void disconnectFromServer();

    QString serverAddress;
    int serverPort;
    int agentPort;
    bool negotiateOnStartup;
    bool showMainWindow;
    bool pollServer;
    int timerPeriod;
    quint32 uuid = 0;
    // The tray window switches it from its own thread while lines are being written.
    std::atomic<bool> logging;
    QFile *logFile = nullptr;
    UdpServer *udpServer = nullptr;
    QTimer *pollTimer = nullptr;
    Worker *worker = nullptr;
    bool keyJustWritten = false;

signals:
    void discFromServer();
    void writeUiLogSignal(QString line);
    void showWindow();
    void alarmJobSignal(Command cmd);
    // A new identity was stored; the worker's alarm reports carry it from then on.
    void identityChanged(quint32 uuid);

public slots:
    void writeLog(QString msg);
    void readKeyFile(bool write, quint32 uuid);
    void sendBlindPacket();
    void connectAgentToServer(QHostAddress serveraddress);
    void startUp();
    void queryServerForPendingJobs(bool success);
    void alarmJobSlot(Command cmd);

private slots:
    void poolTimeoutSlot();

private:
    QString filePath(const char *name) const;
    void readSettings();
    void applySettings(const AgentSettings &settings);
    void resolveServerAddress();
    void startWorker();

    QString baseDirectory;
    QThread *workerThread = nullptr;
};
