#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QFile>

namespace {

constexpr int kStopTimeoutMs = 10000;
const QString kEntrySeparator = QStringLiteral(" - ");

} // namespace

ServerProcess::ServerProcess(const QString &configDir)
    : configDir(configDir)
{
}

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

bool ServerProcess::start(const QStringList &extraArguments)
{
    serverProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    serverProcess.setWorkingDirectory(configDir);
    serverProcess.start(programPath(),
                        QStringList{QStringLiteral("--headless"), QStringLiteral("--config-dir"), configDir}
                            + extraArguments);
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
        serverProcess.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
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
