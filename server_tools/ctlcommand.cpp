#include "ctlcommand.h"

#include "httpdservice.h"
#include "postgrescontrol.h"
#include "processcheck.h"
#include "serverlayout.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

namespace
{

const QString kServerName = QStringLiteral("KelvarixServer");
constexpr int kEndTimeoutMs = 10000;
constexpr int kPollMs = 100;
constexpr int kUsageExitCode = 2;
// taskkill's code for a process it could not find.
constexpr int kNotFoundExitCode = 128;

bool waitUntilGone(qint64 pid)
{
    QDeadlineTimer deadline(kEndTimeoutMs);
    while (ProcessCheck::isAlive(pid)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kPollMs);
    }
    return true;
}

} // namespace

QString CtlCommand::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  kelvarix-ctl [--program-dir DIR] postgres "
        "initdb|start|stop|stop-fast|restart|reload|status|createuser-tmp\n"
        "  kelvarix-ctl [--program-dir DIR] httpd install|uninstall|start|stop|restart|query\n"
        "  kelvarix-ctl [--program-dir DIR] server query|stop [--force]\n"
        "  kelvarix-ctl kill [--force] PID\n"
        "DIR is the directory of the Kelvarix programs, <base>/kelvarix (default: this "
        "program's).\n");
}

int CtlCommand::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QStringList args = arguments;
    QString programDir;
    if (args.size() >= 2 && args.first() == QLatin1String("--program-dir")) {
        programDir = args.at(1);
        args = args.mid(2);
    }
    if (args.isEmpty() || args.first() == QLatin1String("--help")) {
        (args.isEmpty() ? err : out) << usage();
        return args.isEmpty() ? kUsageExitCode : 0;
    }
    const QString subject = args.takeFirst();
    if (subject == QLatin1String("kill"))
        return kill(args, out, err);
    if (subject == QLatin1String("server"))
        return server(programDir, args, out, err);

    const ServerLayout layout(programDir);
    if (subject == QLatin1String("postgres") && args.size() == 1) {
        PostgresControl::Action action;
        if (PostgresControl::actionFromName(args.first(), &action))
            return PostgresControl(layout).run(action, err);
    }
    if (subject == QLatin1String("httpd") && args.size() == 1) {
        HttpdService::Action action;
        if (HttpdService::actionFromName(args.first(), &action))
            return HttpdService(layout).run(action, out, err);
    }
    err << usage();
    return kUsageExitCode;
}

int CtlCommand::server(const QString &programDir, const QStringList &arguments, QTextStream &out,
                       QTextStream &err)
{
    const ServerLayout layout(programDir);
    const qint64 pid = ProcessCheck::runningPid(layout.serverPidFile(), kServerName);
    if (arguments == QStringList{QStringLiteral("query")}) {
        if (pid > 0)
            out << kServerName << "  " << pid << "  running\n";
        else
            out << "INFO: No tasks are running which match the specified criteria.\n";
        return 0;
    }
    const bool force = arguments.contains(QStringLiteral("--force"));
    if (arguments.value(0) != QLatin1String("stop") || arguments.size() != (force ? 2 : 1)) {
        err << usage();
        return kUsageExitCode;
    }
    if (pid == 0) {
        err << "ERROR: The process \"" << kServerName << "\" not found.\n";
        return kNotFoundExitCode;
    }
    QString why;
    if (!ProcessCheck::sendSignal(pid, force, &why)) {
        err << "ERROR: The process \"" << kServerName << "\" with PID " << pid
            << " could not be terminated: " << why << '\n';
        return 1;
    }
    if (!waitUntilGone(pid)) {
        err << "ERROR: The process \"" << kServerName << "\" with PID " << pid
            << " is still running.\n";
        return 1;
    }
    // A killed server leaves its pid file behind.
    if (ProcessCheck::readPidFile(layout.serverPidFile()) == pid)
        QFile::remove(layout.serverPidFile());
    out << "SUCCESS: The process \"" << kServerName << "\" with PID " << pid
        << " has been terminated.\n";
    return 0;
}

int CtlCommand::kill(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const bool force = arguments.contains(QStringLiteral("--force"));
    QStringList rest = arguments;
    rest.removeAll(QStringLiteral("--force"));
    bool ok = false;
    const qint64 pid = rest.size() == 1 ? rest.first().toLongLong(&ok, 10) : 0;
    if (!ok || pid < 1) {
        err << "ERROR: Invalid process id \"" << rest.join(QLatin1Char(' ')) << "\".\n";
        return 1;
    }
    QString why;
    if (!ProcessCheck::sendSignal(pid, force, &why)) {
        err << "ERROR: The process with PID " << pid << " could not be terminated: " << why << '\n';
        return kNotFoundExitCode;
    }
    if (!waitUntilGone(pid)) {
        err << "ERROR: The process with PID " << pid << " is still running.\n";
        return 1;
    }
    out << "SUCCESS: The process with PID " << pid << " has been terminated.\n";
    return 0;
}
