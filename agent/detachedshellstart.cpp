#include "detachedshellstart.h"

#include "agentlog.h"

#include <QProcess>

int DetachedShellStart::start(const QString &program, const QStringList &arguments)
{
    if (program.isEmpty())
        return kNotStarted;
    qint64 pid = 0;
    if (!QProcess::startDetached(program, arguments, QString(), &pid)) {
        qCDebug(lcAgent) << "detached start failed:" << program << arguments;
        return kNotStarted;
    }
    qCDebug(lcAgent) << "started detached" << program << "pid" << pid;
    return kStarted;
}
