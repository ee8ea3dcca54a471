#include "masterserver.h"

#include "agentserver.h"
#include "managerserver.h"
#include "qwsserver.h"
#include "serverlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QTcpServer>
#include <cstdio>

namespace
{

const QString kProductName = QStringLiteral("Kelvarix");
const QString kLogFileName = QStringLiteral("Server.log");
const QString kConfigFileName = QStringLiteral("Server.ini");
const QString kPostgresDriver = QStringLiteral("QPSQL");
const QString kSqliteDriver = QStringLiteral("QSQLITE");

// The database product named in start-up failures. Every other driver name is reported as
// MySQL, the only other server the configuration ever named.
QString databaseKind(const QString &driver)
{
    if (driver == kPostgresDriver)
        return QStringLiteral("PostgreSQL");
    if (driver == kSqliteDriver)
        return QStringLiteral("SQLite");
    return QStringLiteral("MySQL");
}

// A port outside the TCP range would otherwise be cut to 16 bits and bind some other port.
bool isTcpPort(int port)
{
    return port >= 0 && port <= 65535;
}

bool listenAt(QTcpServer &listener, int port)
{
    return isTcpPort(port) && listener.listen(QHostAddress::AnyIPv4, quint16(port));
}

} // namespace

MasterServer::MasterServer(const QString &programDir, QObject *parent)
    : QObject(parent), programDirOverride(programDir)
{
    registerCommandMetaType();
    registerJobMetaTypes();
}

MasterServer::~MasterServer()
{
    dbConnection.closeAndRemove();
}

void MasterServer::setEchoToStandardOutput(bool echo)
{
    echoToStandardOutput = echo;
}

const ServerSettings &MasterServer::serverSettings() const
{
    return settings;
}

QString MasterServer::programDirectory() const
{
    return programDir;
}

void MasterServer::init()
{
    programDir =
        programDirOverride.isEmpty() ? QCoreApplication::applicationDirPath() : programDirOverride;
    openLogFile();
    writeLog(tr("%1 Server initialization ....").arg(kProductName));

    settings = ServerSettings();
    readConfiguration();

    if (startServers()) {
        writeLog(tr("%1 Server initialization completed successfully").arg(kProductName));
        writeLog(tr("%1 Server is running .....").arg(kProductName));
    } else {
        writeLog(tr("%1 Server initialization not completed successfully").arg(kProductName));
    }

    startObserver();
}

bool MasterServer::openLogFile()
{
    logFile.setFileName(programDir + QLatin1Char('/') + kLogFileName);
    if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        writeLog(tr("[ERROR] Unable to open log file: ") + kLogFileName);
        return false;
    }
    return true;
}

void MasterServer::readConfiguration()
{
    writeLog(tr("Read parameters from configuration file: ") + kConfigFileName);
    QFile file(programDir + QLatin1Char('/') + kConfigFileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        writeLog(tr("[ERROR] Unable to open configuration file: ") + kConfigFileName);
        return;
    }
    settings.applyAll(file);
    file.close();
}

bool MasterServer::startServers()
{
    managerServer = new ManagerServer(this, this);
    agentServer = new AgentServer(this, this);
    startWebSocketServer();
    connect(webSocketServer, &QWsServer::newConnection, this, &MasterServer::onClientConnection);
    connect(this, &MasterServer::addPendingJobMachineId, agentServer,
            &AgentServer::addPendingJobMachineId);
    connect(this, &MasterServer::cleanPendingJobMachineId, agentServer,
            &AgentServer::cleanPendingJobMachineId);

    dbConnection.setBaseDir(programDir);
    dbConnection.setPort(settings.dbPort);
    if (!dbConnection.openDefault(settings.dbType, settings.dbServer, settings.dbUsername,
                                  settings.dbPassword, settings.dbName)) {
        writeLog(dbConnection.lastErrorText());
        writeLog(tr("Unable to connect to %1 Server @ %2")
                     .arg(databaseKind(settings.dbType), settings.dbServer));
        return false;
    }

    // The TCP listeners start only with the database open: managers first, then agents.
    if (!listenAt(*managerServer, settings.ServerManagerPort)) {
        writeLog(tr("Another application is using the same port: ") +
                 QString::number(settings.ServerManagerPort));
        emit listenFailed(settings.ServerManagerPort);
        return false;
    }
    writeLog(tr("Start Manager Server on port: ") + QString::number(settings.ServerManagerPort));
    if (!listenAt(*agentServer, settings.ServerAgentPort)) {
        writeLog(tr("Another application is using the same port: ") +
                 QString::number(settings.ServerAgentPort));
        emit listenFailed(settings.ServerAgentPort);
        return false;
    }
    writeLog(tr("Start Agent Server on port: ") + QString::number(settings.ServerAgentPort));
    return true;
}

// Browsers are told of changes here; without it the server still serves agents and managers.
void MasterServer::startWebSocketServer()
{
    webSocketServer = new QWsServer(this);
    const int port = settings.WebSocketPort;
    const bool inRange = isTcpPort(port);
    if (inRange && webSocketServer->listen(QHostAddress::AnyIPv4, quint16(port))) {
        // Port 0 lets the system choose; the log names the port browsers must use.
        writeLog(tr("Server is listening port ") + QString::number(webSocketServer->serverPort()));
        return;
    }
    writeLog(tr("Error: Can't launch websockect server"));
    writeLog(tr("Unable to listen on WebSocket port %1: %2")
                 .arg(port)
                 .arg(inRange ? webSocketServer->errorString() : tr("not a TCP port")));
    emit listenFailed(port);
}

void MasterServer::writeLog(QString msg)
{
    writeLogFile(msg);
    emit writeUILog(msg);
}

void MasterServer::writeLogFile(const QString &msg)
{
    const QByteArray entry =
        (QDateTime::currentDateTime().toString() + QLatin1String(" - ") + msg + QLatin1Char('\n'))
            .toUtf8();
    if (logFile.isOpen()) {
        logFile.write(entry);
        // Entries reach the file in order even if the process ends abruptly.
        logFile.flush();
    }
    if (echoToStandardOutput) {
        std::fwrite(entry.constData(), 1, size_t(entry.size()), stdout);
        std::fflush(stdout);
    }
}

void MasterServer::checkDB()
{
    DatabaseConnection probe;
    probe.setBaseDir(programDir);
    probe.setPort(settings.dbPort);
    const QString name = QString::number(QDateTime::currentMSecsSinceEpoch());
    if (probe.openNamed(settings.dbType, settings.dbServer, settings.dbUsername,
                        settings.dbPassword, settings.dbName, name))
        writeLog(tr("Connection to DB successful"));
    else
        writeLog(tr("Connection to DB failed"));
    probe.closeAndRemove();
}
