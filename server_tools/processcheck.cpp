#include "processcheck.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/types.h>

namespace
{

QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

qint64 ProcessCheck::readPidFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.read(64).trimmed().toLongLong(&ok, 10);
    return ok && pid > 0 ? pid : 0;
}

bool ProcessCheck::isAlive(qint64 pid)
{
    if (pid < 1)
        return false;
    // "pid (comm) S ...": the state follows the last parenthesis, since comm may hold one.
    const QByteArray stat = readProcFile(pid, "stat");
    const int close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return false;
    const char state = stat.at(close + 2);
    return state != 'Z' && state != 'X';
}

QString ProcessCheck::commandName(qint64 pid)
{
    if (pid < 1)
        return QString();
    return QString::fromLocal8Bit(readProcFile(pid, "comm").trimmed());
}

qint64 ProcessCheck::runningPid(const QString &pidFile, const QString &expectedName)
{
    const qint64 pid = readPidFile(pidFile);
    if (!isAlive(pid))
        return 0;
    if (!expectedName.isEmpty() && commandName(pid) != expectedName.left(15))
        return 0;
    return pid;
}

bool ProcessCheck::sendSignal(qint64 pid, bool force, QString *error)
{
    if (pid < 1) {
        if (error)
            *error = QStringLiteral("invalid process id %1").arg(pid);
        return false;
    }
    if (::kill(pid_t(pid), force ? SIGKILL : SIGTERM) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}
