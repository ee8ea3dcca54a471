#include "agent.h"

#include "agentlog.h"
#include "agentsettings.h"
#include "serversender.h"
#include "udpserver.h"
#include "worker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHostInfo>
#include <QTextStream>
#include <QThread>
#include <QTimer>

Agent::Agent(bool logging, const QString &directory, QObject *parent)
    : QObject(parent), logging(logging),
      baseDirectory(directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory)
{
    applySettings(AgentSettings());
    registerCommandMetaType();
}

Agent::~Agent()
{
    // Open exchanges go first, while the slots they signal still exist.
    const QList<ServerSender *> senders =
        findChildren<ServerSender *>(QString(), Qt::FindDirectChildrenOnly);
    qDeleteAll(senders);
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
        worker = nullptr;
    }
}

QString Agent::filePath(const char *name) const
{
    return baseDirectory + QLatin1Char('/') + QLatin1String(name);
}

void Agent::setLogging(bool on)
{
    logging = on;
}

void Agent::writeLog(QString msg)
{
    if (!logging)
        return;
    const QString line =
        QDateTime::currentDateTime().toString() + QLatin1String(" - ") + msg + QLatin1Char('\n');
    if (logFile && logFile->isOpen()) {
        QTextStream out(logFile);
        out.setCodec("UTF-8");
        out << line;
        out.flush();
    }
    emit writeUiLogSignal(line);
}

void Agent::startUp()
{
    applySettings(AgentSettings());
    uuid = 0;

    logFile = new QFile(filePath(kAgentLogName), this);
    if (!logFile->open(QIODevice::WriteOnly | QIODevice::Text))
        qCWarning(lcAgent) << "cannot open" << logFile->fileName() << logFile->errorString();

    readSettings();
    resolveServerAddress();
    readKeyFile(false, 0);

    writeLog(QStringLiteral("Starting Agent"));
    writeLog(QStringLiteral("Trusted server @ %1:%2").arg(serverAddress).arg(serverPort));
    writeLog(QStringLiteral("Client UUID: %1").arg(uuid));
    writeLog(QStringLiteral("Domain/Machine Name: %1/%2")
                 .arg(QHostInfo::localDomainName(), QHostInfo::localHostName()));

    if (effectiveTimerPeriod(timerPeriod) != timerPeriod)
        writeLog(QStringLiteral("Timer period %1 ms is below %2 ms; using %2 ms")
                     .arg(timerPeriod)
                     .arg(kMinTimerPeriodMs));
    if (pollServer) {
        pollTimer = new QTimer(this);
        connect(pollTimer, &QTimer::timeout, this, &Agent::poolTimeoutSlot);
        // A period of 0 would open a connection on every pass of the event loop.
        pollTimer->start(effectiveTimerPeriod(timerPeriod));
    } else {
        udpServer = new UdpServer(serverAddress, serverPort, agentPort, negotiateOnStartup,
                                  showMainWindow, pollServer, timerPeriod, this);
        connect(udpServer, &UdpServer::writeLog, this, &Agent::writeLog);
        connect(udpServer, &UdpServer::connectAgentToServer, this, &Agent::connectAgentToServer);
        udpServer->startListening();
    }

    writeLog(QStringLiteral("%1 Client initialization ....").arg(QLatin1String(kProductName)));

    if (negotiateOnStartup)
        connectAgentToServer(QHostAddress(serverAddress));
    if (showMainWindow)
        emit showWindow();

    startWorker();
    keyJustWritten = false;
}

void Agent::readSettings()
{
    writeLog(
        QStringLiteral("Read parameters from configuration file Agent's initialization file."));
    QFile ini(filePath(kAgentIniName));
    if (!ini.open(QIODevice::ReadOnly | QIODevice::Text)) {
        writeLog(QStringLiteral("[ERROR] Unable to open configuration file"));
        return;
    }
    const QByteArray bytes = ini.readAll();
    AgentSettings current;
    applySettings(parseAgentIni(QString::fromLatin1(bytes.constData(), bytes.size()), current));
    writeLog(QStringLiteral("Parameters are loaded ok"));
}

void Agent::applySettings(const AgentSettings &s)
{
    serverAddress = s.serverAddress;
    serverPort = s.serverPort;
    agentPort = s.agentPort;
    negotiateOnStartup = s.negotiateOnStartup;
    showMainWindow = s.showMainWindow;
    pollServer = s.pollServer;
    timerPeriod = s.timerPeriod;
}

void Agent::resolveServerAddress()
{
    if (serverAddress.isEmpty() || !QHostAddress(serverAddress).isNull())
        return;
    const QList<QHostAddress> found = QHostInfo::fromName(serverAddress).addresses();
    if (found.isEmpty())
        return;
    // Blind packets arrive over IPv4, so a dotted address is preferred when there is one.
    QHostAddress chosen = found.first();
    for (const QHostAddress &a : found) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            chosen = a;
            break;
        }
    }
    serverAddress = chosen.toString();
}

void Agent::startWorker()
{
    worker = new Worker(uuid, serverAddress, serverPort, timerPeriod);
    workerThread = new QThread(this);
    worker->moveToThread(workerThread);
    connect(workerThread, &QThread::started, worker, &Worker::startUp);
    // The worker and its timer belong to that thread and are released there.
    connect(workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &Agent::alarmJobSignal, worker, &Worker::alarmJob);
    connect(this, &Agent::identityChanged, worker, &Worker::identityChanged);
    workerThread->start(QThread::InheritPriority);
}

void Agent::readKeyFile(bool write, quint32 newUuid)
{
    QFile key(filePath(kAgentKeyName));
    if (!write) {
        writeLog(QStringLiteral("Keyfile reading ..."));
        if (!key.open(QIODevice::ReadOnly | QIODevice::Text)) {
            writeLog(QStringLiteral("[ERROR] Unable to open key file for reading"));
            return;
        }
        const QByteArray bytes = key.readAll();
        const quint32 read = parseAgentKey(QString::fromLatin1(bytes.constData(), bytes.size()));
        writeLog(QStringLiteral("Keyfile reading ... OK"));
        uuid = read;
        return;
    }
    writeLog(QStringLiteral("Keyfile writing ..."));
    if (!key.open(QIODevice::WriteOnly | QIODevice::Text)) {
        writeLog(QStringLiteral("[ERROR] Unable to open key file for writing"));
        return;
    }
    const QByteArray bytes = agentKeyText(newUuid).toLatin1();
    if (key.write(bytes) != bytes.size() || !key.flush()) {
        // A key that did not reach the disk would lose the identity at the next start.
        writeLog(QStringLiteral("[ERROR] Unable to open key file for writing"));
        return;
    }
    writeLog(QStringLiteral("Keyfile writing ... OK"));
    keyJustWritten = true;
    uuid = newUuid;
    emit identityChanged(newUuid);
}

void Agent::alarmJobSlot(Command cmd)
{
    emit alarmJobSignal(cmd);
}

void Agent::connectAgentToServer(QHostAddress serveraddress)
{
    writeLog(QStringLiteral("Connecting to Server @ %1:%2")
                 .arg(serveraddress.toString())
                 .arg(serverPort));
    new ServerSender(uuid, serveraddress.toString(), serverPort, QString(), agentPort, !pollServer,
                     this, this);
}

void Agent::poolTimeoutSlot()
{
    connectAgentToServer(QHostAddress(serverAddress));
}

void Agent::sendBlindPacket()
{
    connectAgentToServer(QHostAddress(serverAddress));
}

void Agent::queryServerForPendingJobs(bool success)
{
    if ((pollServer && success) || keyJustWritten)
        connectAgentToServer(QHostAddress(serverAddress));
    if (!success)
        keyJustWritten = false;
}

void Agent::disconnectFromServer()
{
    writeLog(QStringLiteral("Disconnect from %1 Server").arg(QLatin1String(kProductName)));
    emit discFromServer();
}
