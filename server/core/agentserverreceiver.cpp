#include "agentserverreceiver.h"

#include "agentserver.h"
#include "datetimetext.h"
#include "masterserver.h"
#include "parseinventoryxml.h"
#include "sqltext.h"

#include <QSqlQuery>
#include <QTcpSocket>

const QString AgentServerReceiver::kSplitTag = QStringLiteral("<SPLITAG>");

AgentServerReceiver::AgentServerReceiver(QTcpSocket *socket, MasterServer *masterServer,
                                         AgentServer *agentServer)
    : Receiver(socket), masterServer(masterServer), agentServer(agentServer)
{
    connect(this, &AgentServerReceiver::writeLog, masterServer, &MasterServer::writeLog);
    connect(this, &AgentServerReceiver::reportToManager, masterServer,
            &MasterServer::informAdmins);
    connect(this, &AgentServerReceiver::agentConnectedSignal, masterServer,
            &MasterServer::agentConnected);
    connect(this, &AgentServerReceiver::refreshMachinesOnWebManager, masterServer,
            &MasterServer::refreshAgentListOnManager);
}

void AgentServerReceiver::fileUploadStatusSlot(int) {}

void AgentServerReceiver::logMessage(const QString &message)
{
    emit writeLog(message);
}

void AgentServerReceiver::processRequest(Command request)
{
    registerMachine(request);
    if (newMachine)
        assignNewMachineJobs();
    // A registration that failed has no machine to count as present.
    if (machineId > 0)
        emit agentConnectedSignal(peerText(), machineId);
    emit refreshMachinesOnWebManager();

    Command response;
    buildResponse(response);
    switch (response.type) {
    case CommandType::Deploy:
    case CommandType::DeployWithSwitches:
        sendResponseWithFile(response);
        break;
    case CommandType::InstallerMissing:
        // Recorded here as the agent's report would be; the agent hears nothing.
        response.type = CommandType::JobResult;
        processReport(response);
        break;
    case CommandType::NoJob:
        close();
        break;
    default:
        sendResponse(response);
        break;
    }
}

int AgentServerReceiver::machinesWithUuid(int uuid, bool *ok)
{
    QSqlQuery query = SqlText(QStringLiteral("SELECT id, peerip FROM machines WHERE uuid='%1' "
                                             "LIMIT 2"))
                          .number(uuid)
                          .exec();
    *ok = query.isActive();
    int rows = 0;
    while (query.next()) {
        machineId = query.value(0).toInt();
        ++rows;
    }
    return rows;
}

void AgentServerReceiver::registerMachine(const Command &request)
{
    const QString now = DateTimeText::now();
    newMachine = false;

    if (request.type == CommandType::Hello) {
        const int uuid = request.agentId;
        bool ok = false;
        const int rows = machinesWithUuid(uuid, &ok);
        if (!ok)
            return;
        if (uuid == 0 || rows == 0) {
            newMachine = true;
            const QString name = request.payload.section(QLatin1Char(';'), 0, 0);
            // The id is the one of the row just inserted: reading it back by name would hand
            // two computers of the same name one identity.
            QSqlQuery insert =
                SqlText(QStringLiteral("INSERT INTO machines (name, peerip, agentType, port, "
                                       "created_at, status) VALUES ('%1','%2','%3','%4','%5', "
                                       "'1') RETURNING id"))
                    .text(name)
                    .text(peerText())
                    .number(request.flag)
                    .number(request.value)
                    .text(now)
                    .exec();
            machineId = insert.next() ? insert.value(0).toInt() : 0;
            if (machineId == 0)
                return;
            SqlText(QStringLiteral("UPDATE machines SET uuid=%1 WHERE id=%2"))
                .number(machineId)
                .number(machineId)
                .exec();
        } else {
            machineId = uuid;
            SqlText(QStringLiteral("UPDATE machines SET name='%1', peerip='%2', updated_at='%3', "
                                   "port='%4', agentType='%5', status=1 WHERE id='%6'"))
                .text(request.payload)
                .text(peerText())
                .text(now)
                .number(request.value)
                .number(request.flag)
                .number(uuid)
                .exec();
        }
    } else if (request.type == CommandType::AlarmReport) {
        machineId = request.agentId;
        ParseInventoryXml::storeAlarms(machineId, request.payload,
                                       [this](const QString &line) { logMessage(line); });
    }
}

void AgentServerReceiver::processReport(Command report)
{
    if (report.type != CommandType::Identity) {
        if (report.type == CommandType::InventoryResult)
            ParseInventoryXml::storeInventory(machineId, report.payload,
                                              [this](const QString &line) { logMessage(line); });
        recordResult(report);
    }
    report.payload.clear();
    emit reportToManager(&report);
    close();
}
