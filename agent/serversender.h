#pragma once

#include "sender.h"

#include <QString>

class Agent;
class JobRunner;
class QTimer;

// How long a connection may go without a byte from the server before the response is given up.
constexpr int kResponseIdleTimeoutMs = 60000;
// After an alarm rule the server ends the exchange; a server that never does is left after this.
constexpr int kServerCloseGraceMs = 30000;
// A report must have left before the connection is closed; the wait is bounded by this.
constexpr int kReportWriteTimeoutMs = 30000;

// One exchange with the server: a hello (or an alarm report), at most one response, one report.
// It releases itself when the exchange ends.
class ServerSender : public Sender
{
    Q_OBJECT
public:
    ServerSender(quint32 uuid, const QString &serverAddress, int serverPort,
                 const QString &document, int agentPort, bool noPolling, Agent *agent,
                 QObject *parent = nullptr);

    // The hello's payload: the host name, with "-" and the port unless it is the default port.
    static QString helloPayload(const QString &hostName, int agentPort);
    // Lets tests shorten the waits for a silent server; 0 restores the defaults.
    static void setTimeouts(int responseIdleMs, int serverCloseGraceMs);

    // Used by the job handlers to end their exchange.
    void sendReport(Command report);
    // The same without the "Send report to" line.
    void writeReport(const Command &report);
    void finishExchange(bool success);
    // Answers a response this agent does not handle, and ends the exchange.
    void rejectResponse();
    // Leaves the connection for the server to close, but not for ever.
    void lingerForServerClose();
    Command makeCommand(quint8 type, quint16 value) override;
    void logMessage(const QString &message) override;

    quint32 uuid;
    Agent *agent;
    int currentType = 0;
    int agentPort;
    bool noPolling;
    QString document;
    JobRunner *jobRunner = nullptr;

signals:
    void writeLog(QString msg);
    void readKeyFile(bool write, quint32 uuid);
    void queryServerForPendingJobs(bool repeat);
    void alarmJob(Command cmd);

public slots:
    void startUp();

private slots:
    void fileUploadStatusSlot(int value) override;
    void watchdogExpired();

protected:
    Command buildRequest() override;
    void processResponse(Command response) override;

private:
    void assignIdentity(const Command &response);

    QTimer *watchdog = nullptr;
    bool awaitingResponse = true;
};
