// Presence, the machine observer, blind packets and the notices to managers and browsers.
#include "agentserver.h"
#include "masterserver.h"
#include "qwsserver.h"
#include "qwssocket.h"
#include "sqltext.h"
#include "subnetaddresses.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QUdpSocket>

const QString kMachineMessage = QStringLiteral("Machine");
const QString kJobStateMessage = QStringLiteral("JobStateChanged");
const QString kDiscoveryMessage = QStringLiteral("DiscoveryExecute");
const QString kBlindPacketPayload = QStringLiteral("BPacket");

// Connections-table component kinds.
constexpr int kManagerComponent = 0;
constexpr int kAgentComponent = 2;

void MasterServer::startObserver()
{
    observerTimer = new QTimer(this);
    connect(observerTimer, &QTimer::timeout, this, &MasterServer::observerTimeoutSlot);
    // Integration tests shorten the period to see offline marking within seconds.
    int period = kObserverPeriodMs;
    bool overridden = false;
    const int requested = qEnvironmentVariableIntValue("KELVARIX_OBSERVER_PERIOD_MS", &overridden);
    if (overridden && requested > 0) {
        period = requested;
        writeLog(
            QStringLiteral("Observer period: %1 ms (KELVARIX_OBSERVER_PERIOD_MS)").arg(period));
    }
    observerTimer->start(period);
    onlineAgents.clear();
    agentsSeenThisPeriod.clear();
    observeMachines(true);
}

void MasterServer::observerTimeoutSlot()
{
    emit cleanPendingJobMachineId();
    emit writeConnectionsLog(QString(), kManagerComponent, true);
    refreshManagerList();
    observeMachines(false);
    jobCheck(-1);
    Command tick;
    initCommand(tick, 0, CommandType::ObserverTick, 0);
    informAdmins(&tick);
}

void MasterServer::refreshManagerList()
{
    for (const QString &address : qAsConst(unconfirmedManagers))
        connectedManagers.removeAll(address);
    for (const QString &address : qAsConst(connectedManagers))
        emit writeConnectionsLog(address, kManagerComponent, false);
    unconfirmedManagers = connectedManagers;
}

void MasterServer::managerConnected(QString managerIp)
{
    unconfirmedManagers.removeAll(managerIp);
    if (!connectedManagers.contains(managerIp)) {
        connectedManagers.append(managerIp);
        emit writeConnectionsLog(managerIp, kManagerComponent, false);
    }
}

void MasterServer::agentConnected(QString agentIP, int agentID)
{
    if (agentsSeenThisPeriod.contains(agentID))
        return;
    agentsSeenThisPeriod.append(agentID);
    if (!onlineAgents.contains(agentID)) {
        emit writeConnectionsLog(agentIP, kAgentComponent, false);
        Command notice;
        initCommand(notice, 0, CommandType::MachinesChanged, 0);
        informAdmins(&notice);
    }
    onlineAgents.append(agentID);
}

void MasterServer::observeMachines(bool firstRun)
{
    QSqlQuery query =
        SqlText(QStringLiteral("SELECT * from machines")).exec(dbConnection.database());
    QStringList seenAddresses;
    QList<Job> wakeUps;
    while (query.next()) {
        const QSqlRecord row = query.record();
        const int id = row.value(QStringLiteral("id")).toInt();
        const QString peerip = row.value(QStringLiteral("peerip")).toString();
        if (agentsSeenThisPeriod.contains(id))
            seenAddresses.append(peerip);
        if (firstRun && !onlineAgents.contains(id))
            onlineAgents.append(id);
        if (row.value(QStringLiteral("agentType")).toInt() != 0)
            wakeUps.append(Job(peerip, row.value(QStringLiteral("port")).toInt(), 0, 0));
    }

    for (int id : qAsConst(agentsSeenThisPeriod))
        onlineAgents.removeAll(id);
    if (!onlineAgents.isEmpty()) {
        for (int id : qAsConst(onlineAgents))
            SqlText(QStringLiteral("UPDATE machines SET status='0' WHERE id='%1'"))
                .number(id)
                .exec(dbConnection.database());
        Command notice;
        initCommand(notice, 0, CommandType::MachinesChanged, 0);
        informAdmins(&notice);
    }
    for (const QString &address : qAsConst(seenAddresses))
        emit writeConnectionsLog(address, kAgentComponent, false);

    onlineAgents = agentsSeenThisPeriod;
    agentsSeenThisPeriod.clear();
    sendBPList(wakeUps);
}

Command MasterServer::makeBlindPacket(int id)
{
    Command packet;
    initCommand(packet, 1, CommandType::BlindPacket, id);
    packet.payload = kBlindPacketPayload;
    packet.payloadLength = kBlindPacketPayload.size();
    return packet;
}

void MasterServer::sendDatagram(const Command &command, const QString &address, int port)
{
    // One socket of the server thread carries every datagram the server sends.
    if (!udpSocket)
        udpSocket = new QUdpSocket(this);
    const QHostAddress host(address);
    if (host.isNull())
        return;
    udpSocket->writeDatagram(encodeDatagram(command), host, quint16(port));
}

void MasterServer::sendBPList(QList<Job> list)
{
    for (const Job &job : qAsConst(list))
        sendDatagram(makeBlindPacket(job.jobMachineId), job.ip,
                     job.port == 0 ? settings.AgentPort : job.port);
}

void MasterServer::informAdmins(TCommand *cmd)
{
    for (const QString &address : qAsConst(connectedManagers))
        sendDatagram(*cmd, address, settings.ManagerPort);
    if (cmd->type == CommandType::MachinesChanged)
        sendToWebClients(kMachineMessage);
    else if (cmd->type == CommandType::JobResult || cmd->type == CommandType::InventoryResult)
        sendToWebClients(kJobStateMessage);
}

void MasterServer::discoveryCheck()
{
    QSqlQuery query =
        SqlText(QStringLiteral("SELECT * FROM discoveries")).exec(dbConnection.database());
    while (query.next()) {
        const QSqlRecord row = query.record();
        writeLog(tr("Get all Ip addresses from subnet"));
        const QString netIp = row.value(QStringLiteral("net_ip")).toString();
        const QString mask = row.value(QStringLiteral("mask")).toString();
        const QStringList addresses = subnetAddresses(netIp, mask);
        if (addresses.isEmpty())
            writeLog(
                QStringLiteral("No address to scan in discovery range %1/%2").arg(netIp, mask));
        QList<Job> list;
        for (const QString &address : addresses)
            list.append(Job(address, row.value(QStringLiteral("port")).toInt(),
                            row.value(QStringLiteral("id")).toInt(), 0));
        sendBPList(list);
    }
    writeLog(tr("Send refresh message to web based managers"));
    sendToWebClients(kDiscoveryMessage);
}

void MasterServer::sendToWebClients(const QString &message)
{
    for (QWsSocket *client : qAsConst(webClients))
        client->sendText(message);
}

void MasterServer::onClientConnection()
{
    QWsSocket *client = webSocketServer->nextPendingConnection();
    if (!client)
        return;
    connect(client, qOverload<QString>(&QWsSocket::frameReceived), this,
            &MasterServer::onDataReceived);
    connect(client, &QWsSocket::disconnected, this, &MasterServer::onClientDisconnection);
    connect(client, &QWsSocket::pong, this, &MasterServer::onPong);
    writeLog(tr("Web client connected from: %1").arg(client->peerAddress().toString()));
    webClients.append(client);
}

void MasterServer::onClientDisconnection()
{
    auto *client = qobject_cast<QWsSocket *>(sender());
    if (!client)
        return;
    webClients.removeAll(client);
    client->deleteLater();
    writeLog(tr("Client disconnected"));
}

void MasterServer::onDataReceived(QString data)
{
    if (qobject_cast<QWsSocket *>(sender()))
        sendToWebClients(data);
}

void MasterServer::onPong(quint64 elapsedTime)
{
    writeLog(tr("ping: ") + QString::number(elapsedTime) + tr(" ms"));
}

void MasterServer::refreshAgentListOnManager()
{
    sendToWebClients(kMachineMessage);
}
