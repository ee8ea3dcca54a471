#include "serversender.h"

#include "agent.h"
#include "agentlog.h"
#include "agentsettings.h"
#include "jobrunner.h"

#include <QHostInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

static int responseIdleTimeout = kResponseIdleTimeoutMs;
static int serverCloseGrace = kServerCloseGraceMs;

ServerSender::ServerSender(quint32 uuid, const QString &serverAddress, int serverPort,
                           const QString &document, int agentPort, bool noPolling, Agent *agent,
                           QObject *parent)
    : Sender(serverAddress, serverPort, parent), uuid(uuid), agent(agent), agentPort(agentPort),
      noPolling(noPolling), document(document)
{
    registerCommandMetaType();
    startUp();
}

QString ServerSender::helloPayload(const QString &hostName, int agentPort)
{
    if (agentPort == kDefaultAgentPort)
        return hostName;
    return hostName + QLatin1Char('-') + QString::number(agentPort);
}

void ServerSender::setTimeouts(int responseIdleMs, int serverCloseGraceMs)
{
    responseIdleTimeout = responseIdleMs > 0 ? responseIdleMs : kResponseIdleTimeoutMs;
    serverCloseGrace = serverCloseGraceMs > 0 ? serverCloseGraceMs : kServerCloseGraceMs;
}

void ServerSender::startUp()
{
    openConnection();
    // A server that accepts and then stays silent must not keep this exchange alive.
    watchdog = new QTimer(this);
    watchdog->setSingleShot(true);
    connect(watchdog, &QTimer::timeout, this, &ServerSender::watchdogExpired);
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        if (awaitingResponse)
            watchdog->start(responseIdleTimeout);
    });
    watchdog->start(responseIdleTimeout);

    jobRunner = new JobRunner(this);
    // An alarm connection has no ties to an Agent.
    if (!document.isEmpty() || !agent)
        return;
    connect(this, &ServerSender::readKeyFile, agent, &Agent::readKeyFile);
    connect(this, &ServerSender::writeLog, agent, &Agent::writeLog);
    connect(this, &ServerSender::queryServerForPendingJobs, agent,
            &Agent::queryServerForPendingJobs);
    connect(agent, &Agent::discFromServer, this, &Sender::close);
    connect(this, &ServerSender::alarmJob, agent, &Agent::alarmJobSlot);
}

Command ServerSender::buildRequest()
{
    Command request;
    if (!document.isEmpty()) {
        initCommand(request, qint32(uuid), CommandType::AlarmReport, 0);
        request.payload = document;
    } else {
        initCommand(request, qint32(uuid), CommandType::Hello, 0);
        request.payload = helloPayload(QHostInfo::localHostName(), agentPort);
        request.value = quint16(agentPort);
        request.flag = noPolling ? 1 : 0;
    }
    request.payloadLength = request.payload.size();
    return request;
}

void ServerSender::processResponse(Command response)
{
    currentType = response.type;
    awaitingResponse = false;
    watchdog->stop();
    switch (response.type) {
    case CommandType::Identity:
    case CommandType::Discovery:
        assignIdentity(response);
        return;
    case CommandType::CpuRule:
    case CommandType::DiskRule:
    case CommandType::MemoryRule:
    case CommandType::ProcessRule:
    case CommandType::ChangesRule:
    case CommandType::RemoveRule:
        // The rule needs no report; the server ends the exchange.
        emit alarmJob(response);
        lingerForServerClose();
        return;
    default:
        break;
    }
    if (!jobRunner->run(response))
        rejectResponse();
}

void ServerSender::assignIdentity(const Command &response)
{
    logMessage(QStringLiteral("Discovery CMD"));
    emit readKeyFile(true, quint32(response.agentId));
    sendReport(makeCommand(response.type, ResultCode::Succeeded));
    finishExchange(true);
}

void ServerSender::rejectResponse()
{
    sendReport(makeCommand(CommandType::JobResult, ResultCode::NotUnderstood));
    finishExchange(false);
}

void ServerSender::sendReport(Command report)
{
    logMessage(QStringLiteral("Send report to: %1").arg(host));
    writeReport(report);
}

void ServerSender::writeReport(const Command &report)
{
    if (isClosed())
        return;
    writeCommand(report, socket);
    // close() follows at once; a large report must have left the process before that.
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        if (!socket->waitForBytesWritten(kReportWriteTimeoutMs)) {
            qCWarning(lcAgent) << "report not written within" << kReportWriteTimeoutMs << "ms";
            break;
        }
    }
}

void ServerSender::finishExchange(bool success)
{
    emit queryServerForPendingJobs(success);
    close();
    const QList<QProcess *> processes = findChildren<QProcess *>();
    for (QProcess *process : processes)
        process->disconnect();
    disconnect();
}

void ServerSender::lingerForServerClose()
{
    watchdog->start(serverCloseGrace);
}

void ServerSender::watchdogExpired()
{
    if (isClosed())
        return;
    if (awaitingResponse)
        logMessage(QStringLiteral("No response from server within %1 ms; connection closed")
                       .arg(responseIdleTimeout));
    else
        qCDebug(lcAgent) << "server left the connection open; closing it";
    close();
}

Command ServerSender::makeCommand(quint8 type, quint16 value)
{
    Command command;
    initCommand(command, qint32(uuid), type, 0);
    command.value = value;
    return command;
}

void ServerSender::logMessage(const QString &message)
{
    qCDebug(lcAgent) << message;
    emit writeLog(message);
}

void ServerSender::fileUploadStatusSlot(int) {}
