#include "postgrescontrol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{

const QString kOwnerWhenRoot = QStringLiteral("postgres");
const QString kTmpUser = QStringLiteral("tmp_user");
const QString kBlockStart = QStringLiteral("# Kelvarix: port and socket directory of this cluster");
const QString kBlockEnd = QStringLiteral("# Kelvarix: end");
// UTF-8 whatever the caller's locale, so that the web manager's texts are stored as typed.
const QString kInitdbOptions = QStringLiteral("--encoding=UTF8 --locale=C.UTF-8");

const struct {
    PostgresControl::Action action;
    const char *name;
} kActionNames[] = {
    {PostgresControl::Action::InitCluster, "initdb"},
    {PostgresControl::Action::Start, "start"},
    {PostgresControl::Action::Stop, "stop"},
    {PostgresControl::Action::StopFast, "stop-fast"},
    {PostgresControl::Action::Restart, "restart"},
    {PostgresControl::Action::Reload, "reload"},
    {PostgresControl::Action::Status, "status"},
    {PostgresControl::Action::CreateTmpUser, "createuser-tmp"},
};

QString quotedConfValue(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

PostgresControl::PostgresControl(const ServerLayout &layout) : layout(layout) {}

bool PostgresControl::actionFromName(const QString &name, Action *action)
{
    for (const auto &entry : kActionNames) {
        if (name == QLatin1String(entry.name)) {
            *action = entry.action;
            return true;
        }
    }
    return false;
}

QString PostgresControl::actionName(Action action)
{
    for (const auto &entry : kActionNames) {
        if (entry.action == action)
            return QLatin1String(entry.name);
    }
    return QString();
}

QString PostgresControl::binDir()
{
    const QString fromEnv = qEnvironmentVariable("KELVARIX_PG_BIN");
    if (!fromEnv.isEmpty())
        return fromEnv;
    QProcess config;
    config.start(QStringLiteral("pg_config"), {QStringLiteral("--bindir")});
    if (config.waitForFinished(10000) && config.exitCode() == 0) {
        const QString dir = QString::fromLocal8Bit(config.readAllStandardOutput()).trimmed();
        if (QFileInfo::exists(dir + QStringLiteral("/pg_ctl")))
            return dir;
    }
    QDir packaged(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = packaged.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toDouble() > b.toDouble(); });
    for (const QString &version : versions) {
        const QString dir = packaged.filePath(version + QStringLiteral("/bin"));
        if (QFileInfo::exists(dir + QStringLiteral("/pg_ctl")))
            return dir;
    }
    return QString();
}

QString PostgresControl::ownerAccount()
{
    if (geteuid() == 0)
        return kOwnerWhenRoot;
    const struct passwd *pw = getpwuid(geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

QString PostgresControl::withClusterSettings(const QString &conf, int port,
                                             const QString &socketDir)
{
    QString text = conf;
    const int start = text.indexOf(kBlockStart);
    if (start >= 0) {
        const int end = text.indexOf(kBlockEnd, start);
        const int stop = end < 0 ? text.size() : end + kBlockEnd.size();
        text.remove(start, stop - start);
        while (text.endsWith(QLatin1String("\n\n")))
            text.chop(1);
    }
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    // Later lines win in postgresql.conf, so the block at the end decides.
    text += kBlockStart + QLatin1Char('\n') + QStringLiteral("port = %1\n").arg(port) +
            QStringLiteral("unix_socket_directories = ") + quotedConfValue(socketDir) +
            QLatin1Char('\n') + kBlockEnd + QLatin1Char('\n');
    return text;
}

int PostgresControl::run(Action action, QTextStream &err)
{
    const QString data = layout.clusterDir();
    const QString logFile = layout.postgresLogFile();
    switch (action) {
    case Action::InitCluster: {
        if (!prepareHome(err))
            return 1;
        const int code = runTool(QStringLiteral("pg_ctl"),
                                 {QStringLiteral("initdb"), QStringLiteral("-D"), data,
                                  QStringLiteral("-o"), kInitdbOptions},
                                 err);
        if (code == 0 && !writeClusterSettings(err))
            return 1;
        return code;
    }
    case Action::Start:
        if (QFileInfo::exists(layout.postgresConfFile()) && !writeClusterSettings(err))
            return 1;
        return runTool(QStringLiteral("pg_ctl"),
                       {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-D"), data,
                        QStringLiteral("-l"), logFile},
                       err);
    case Action::Restart:
        if (QFileInfo::exists(layout.postgresConfFile()) && !writeClusterSettings(err))
            return 1;
        // With a log file: without one the server would write into the caller's pipe.
        return runTool(QStringLiteral("pg_ctl"),
                       {QStringLiteral("restart"), QStringLiteral("-w"), QStringLiteral("-D"), data,
                        QStringLiteral("-l"), logFile},
                       err);
    case Action::Stop:
        return runTool(QStringLiteral("pg_ctl"),
                       {QStringLiteral("stop"), QStringLiteral("-W"), QStringLiteral("-D"), data},
                       err);
    case Action::StopFast:
        return runTool(QStringLiteral("pg_ctl"),
                       {QStringLiteral("stop"), QStringLiteral("-m"), QStringLiteral("f"),
                        QStringLiteral("-D"), data},
                       err);
    case Action::Reload:
        return runTool(QStringLiteral("pg_ctl"),
                       {QStringLiteral("reload"), QStringLiteral("-D"), data}, err);
    case Action::Status:
        return runTool(QStringLiteral("pg_ctl"),
                       {QStringLiteral("status"), QStringLiteral("-D"), data}, err);
    case Action::CreateTmpUser:
        return runTool(QStringLiteral("createuser"),
                       {QStringLiteral("-s"), QStringLiteral("-d"), QStringLiteral("-l"),
                        QStringLiteral("-r"), QStringLiteral("-w"), QStringLiteral("-h"),
                        QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                        QString::number(layout.postgresPort()), kTmpUser},
                       err);
    }
    return 1;
}

int PostgresControl::runTool(const QString &tool, const QStringList &arguments, QTextStream &err)
{
    const QString dir = binDir();
    if (dir.isEmpty()) {
        err << "PostgreSQL's programs were not found (package postgresql)\n";
        err.flush();
        return 1;
    }
    QString program = dir + QLatin1Char('/') + tool;
    QStringList args = arguments;
    if (geteuid() == 0) {
        args =
            QStringList{QStringLiteral("-u"), ownerAccount(), QStringLiteral("--"), program} + args;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    // The owner account must be able to enter the working directory.
    process.setWorkingDirectory(QFileInfo(layout.postgresDir()).isDir() ? layout.postgresDir()
                                                                        : QStringLiteral("/"));
    process.start(program, args);
    if (!process.waitForStarted(-1)) {
        err << program << ": " << process.errorString() << '\n';
        err.flush();
        return 1;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return 1;
    return process.exitCode();
}

bool PostgresControl::prepareHome(QTextStream &err)
{
    const QString home = layout.postgresDir();
    if (!QDir().mkpath(home)) {
        err << "cannot create " << home << '\n';
        err.flush();
        return false;
    }
    if (geteuid() != 0)
        return true;
    const QByteArray owner = ownerAccount().toLocal8Bit();
    const struct passwd *pw = getpwnam(owner.constData());
    if (!pw) {
        err << "the account " << ownerAccount() << " does not exist (package postgresql)\n";
        err.flush();
        return false;
    }
    if (chown(QFile::encodeName(home).constData(), pw->pw_uid, pw->pw_gid) != 0) {
        err << "cannot give " << home << " to " << ownerAccount() << '\n';
        err.flush();
        return false;
    }
    return true;
}

bool PostgresControl::writeClusterSettings(QTextStream &err)
{
    QFile conf(layout.postgresConfFile());
    if (!conf.open(QIODevice::ReadOnly)) {
        err << "cannot read " << conf.fileName() << '\n';
        err.flush();
        return false;
    }
    const QString before = QString::fromUtf8(conf.readAll());
    conf.close();
    const QString after = withClusterSettings(before, layout.postgresPort(), layout.postgresDir());
    if (after == before)
        return true;
    // Rewritten in place, so the file keeps its owner and mode.
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate) || conf.write(after.toUtf8()) < 0) {
        err << "cannot write " << conf.fileName() << '\n';
        err.flush();
        return false;
    }
    return true;
}
