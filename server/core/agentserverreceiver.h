#pragma once

#include "command.h"
#include "receiver.h"

#include <QString>

class AgentServer;
class MasterServer;
class QTcpSocket;

// Handles one agent connection: registers the machine, answers with its next job (or an
// identity, or nothing), records the report, then closes. Released when the connection ends.
class AgentServerReceiver : public Receiver
{
    Q_OBJECT
public:
    AgentServerReceiver(QTcpSocket *socket, MasterServer *masterServer, AgentServer *agentServer);

    // Text cut for job_machines.reportData.
    static constexpr int kReportDataLength = 1000;
    static const QString kSplitTag;

signals:
    void writeLog(QString Msg);
    void reportToManager(TCommand *command);
    void agentConnectedSignal(QString agentIP, int agentID);
    void refreshMachinesOnWebManager();

private slots:
    // Agents never upload on this connection, so progress means nothing here.
    void fileUploadStatusSlot(int progressPercentage) override;

protected:
    void processRequest(Command request) override;
    void buildResponse(Command &response) override;
    void processReport(Command report) override;
    void logMessage(const QString &message) override;

private:
    void registerMachine(const Command &request);
    int machinesWithUuid(int uuid, bool *ok);
    void assignNewMachineJobs();
    void recordResult(const Command &report);
    void fillApplicationResponse(Command &response, int cmd);
    bool locateInstaller(const QString &name, const QString &fileName);

    MasterServer *masterServer;
    AgentServer *agentServer;
    int machineId = 0;
    int jobMachineId = 0;
    int scheduleType = 0;
    bool newMachine = false;
    QString installerPath;
};
