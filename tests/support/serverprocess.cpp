#include "serverprocess.h"

#include "testports.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

namespace
{

constexpr int kStopTimeoutMs = 10000;
constexpr int kSqliteTimeoutMs = 60000;
const QString kEntrySeparator = QStringLiteral(" - ");

} // namespace

ServerProcess::ServerProcess(const QString &configDir) : configDir(configDir) {}

ServerProcess::~ServerProcess()
{
    stop();
}

QString ServerProcess::programPath()
{
    return QStringLiteral(KELVARIX_BIN_DIR "/KelvarixServer");
}

bool ServerProcess::writeServerIni(const QString &dir, const QStringList &lines)
{
    QFile file(dir + QStringLiteral("/Server.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    for (const QString &line : lines)
        file.write((line + QLatin1Char('\n')).toUtf8());
    return true;
}

bool ServerProcess::writeSqliteSetup(const QString &dir, QStringList *ports)
{
    const QString fileName = QStringLiteral("zvn.sqlite");
    for (const char *sql : {"zvn_struct_sqlite.sql", "zvn_fill.sql"}) {
        QProcess shell;
        shell.setStandardInputFile(QStringLiteral(KELVARIX_SQL_DIR "/") + QLatin1String(sql));
        shell.setProcessChannelMode(QProcess::ForwardedChannels);
        shell.start(QStringLiteral("sqlite3"),
                    {QStringLiteral("-bail"), dir + QLatin1Char('/') + fileName});
        if (!shell.waitForFinished(kSqliteTimeoutMs) ||
            shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
            return false;
    }
    *ports = freePortLines();
    return writeServerIni(
        dir, QStringList{QStringLiteral("dbType=QSQLITE"), QStringLiteral("dbName=") + fileName} +
                 *ports);
}

void ServerProcess::setDisplay(const QString &display)
{
    displayName = display;
}

QStringList ServerProcess::freePortLines()
{
    return {QStringLiteral("ServerManagerPort=%1").arg(freeTcpPort()),
            QStringLiteral("ServerAgentPort=%1").arg(freeTcpPort()),
            QStringLiteral("ManagerPort=%1").arg(freeTcpPort()),
            QStringLiteral("AgentPort=%1").arg(freeTcpPort()),
            QStringLiteral("WebSocketPort=%1").arg(freeTcpPort())};
}

int ServerProcess::portIn(const QStringList &lines, const QString &key)
{
    for (const QString &line : lines)
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1).toInt();
    return 0;
}

bool ServerProcess::start(const QStringList &extraArguments)
{
    serverProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    serverProcess.setWorkingDirectory(configDir);
    QStringList arguments{QStringLiteral("--config-dir"), configDir};
    if (displayName.isEmpty()) {
        arguments.prepend(QStringLiteral("--headless"));
    } else {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), displayName);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        serverProcess.setProcessEnvironment(env);
    }
    serverProcess.start(programPath(), arguments + extraArguments);
    return serverProcess.waitForStarted(kStopTimeoutMs);
}

void ServerProcess::readOutput()
{
    buffer += serverProcess.readAllStandardOutput();
    int end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        lines.append(QString::fromUtf8(buffer.constData(), end));
        buffer.remove(0, end + 1);
    }
}

QStringList ServerProcess::messages()
{
    readOutput();
    if (!displayName.isEmpty()) {
        QFile log(configDir + QStringLiteral("/Server.log"));
        lines.clear();
        if (log.open(QIODevice::ReadOnly | QIODevice::Text))
            lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList result;
    for (const QString &line : qAsConst(lines)) {
        const int at = line.indexOf(kEntrySeparator);
        result.append(at < 0 ? line : line.mid(at + kEntrySeparator.size()));
    }
    return result;
}

QString ServerProcess::output()
{
    readOutput();
    return lines.join(QLatin1Char('\n'));
}

bool ServerProcess::waitForMessage(const QString &message, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (messages().contains(message))
            return true;
        if (serverProcess.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        if (displayName.isEmpty())
            serverProcess.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        else
            QThread::msleep(50); // the entries go to Server.log, which has no signal to wait on
    }
}

bool ServerProcess::stop()
{
    if (serverProcess.state() == QProcess::NotRunning)
        return false;
    serverProcess.terminate();
    if (!serverProcess.waitForFinished(kStopTimeoutMs)) {
        serverProcess.kill();
        serverProcess.waitForFinished(kStopTimeoutMs);
    }
    readOutput();
    return true;
}

QProcess &ServerProcess::process()
{
    return serverProcess;
}
