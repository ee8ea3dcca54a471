#include "httpdservice.h"

#include "processcheck.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

namespace
{

const QString kServiceName = QStringLiteral("KelvarixHttpServer");
const QString kUnitName = QStringLiteral("kelvarix-httpd.service");
const QString kUnitDir = QStringLiteral("/etc/systemd/system");
const QString kApacheName = QStringLiteral("apache2");
const QString kRecordName = QStringLiteral("kelvarix-httpd.installed");
// A Windows service start or stop returns once the service has changed state; so do these.
constexpr int kStateTimeoutMs = 20000;
constexpr int kPollMs = 100;

const struct {
    HttpdService::Action action;
    const char *name;
} kActionNames[] = {
    {HttpdService::Action::Install, "install"}, {HttpdService::Action::Uninstall, "uninstall"},
    {HttpdService::Action::Start, "start"},     {HttpdService::Action::Stop, "stop"},
    {HttpdService::Action::Restart, "restart"}, {HttpdService::Action::Query, "query"},
};

QString notInstalledText()
{
    return QStringLiteral("No installed service named \"%1\".\n").arg(kServiceName);
}

} // namespace

HttpdService::HttpdService(const ServerLayout &layout) : layout(layout) {}

bool HttpdService::actionFromName(const QString &name, Action *action)
{
    for (const auto &entry : kActionNames) {
        if (name == QLatin1String(entry.name)) {
            *action = entry.action;
            return true;
        }
    }
    return false;
}

QString HttpdService::actionName(Action action)
{
    for (const auto &entry : kActionNames) {
        if (entry.action == action)
            return QLatin1String(entry.name);
    }
    return QString();
}

QString HttpdService::serviceName()
{
    return kServiceName;
}

QString HttpdService::unitName()
{
    return kUnitName;
}

QString HttpdService::apacheProgram()
{
    const QString fromEnv = qEnvironmentVariable("KELVARIX_APACHE");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString found = QStandardPaths::findExecutable(
        kApacheName, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return found.isEmpty() ? QStandardPaths::findExecutable(kApacheName) : found;
}

bool HttpdService::systemdRuns()
{
    const QString chosen = qEnvironmentVariable("KELVARIX_SERVICE_MANAGER");
    if (chosen == QLatin1String("none"))
        return false;
    if (chosen == QLatin1String("systemd"))
        return true;
    return QFileInfo(QStringLiteral("/run/systemd/system")).isDir();
}

QString HttpdService::unitText(const QString &apache, const QString &conf, const QString &pidFile)
{
    const QString run = QStringLiteral("\"%1\" -f \"%2\" -k ").arg(apache, conf);
    return QStringLiteral("[Unit]\n"
                          "Description=Kelvarix web server (Apache, %1)\n"
                          "After=network.target\n"
                          "\n"
                          "[Service]\n"
                          "Type=forking\n"
                          "PIDFile=%2\n"
                          "ExecStart=%3start\n"
                          "ExecReload=%3graceful\n"
                          "ExecStop=%3stop\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=multi-user.target\n")
        .arg(kServiceName, pidFile, run);
}

QString HttpdService::queryText(bool installed, bool running)
{
    if (!installed && !running)
        return QStringLiteral("[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\n\n"
                              "The specified service does not exist as an installed service.\n");
    return QStringLiteral("\nSERVICE_NAME: %1\n"
                          "        TYPE               : 10  WIN32_OWN_PROCESS\n"
                          "        STATE              : %2\n")
        .arg(kServiceName, running ? QStringLiteral("4  RUNNING") : QStringLiteral("1  STOPPED"));
}

QString HttpdService::recordFile() const
{
    return QFileInfo(layout.httpdConfFile()).absolutePath() + QLatin1Char('/') + kRecordName;
}

QString HttpdService::unitFile() const
{
    return kUnitDir + QLatin1Char('/') + kUnitName;
}

bool HttpdService::isInstalled() const
{
    return QFileInfo::exists(recordFile());
}

qint64 HttpdService::runningPid() const
{
    return ProcessCheck::runningPid(layout.httpdPidFile(), kApacheName);
}

int HttpdService::run(Action action, QTextStream &out, QTextStream &err)
{
    int code = 1;
    switch (action) {
    case Action::Install:
        code = install(err);
        break;
    case Action::Uninstall:
        code = uninstall(err);
        break;
    case Action::Start:
        code = start(err);
        break;
    case Action::Stop:
        code = stop(err);
        break;
    case Action::Restart:
        code = restart(err);
        break;
    case Action::Query: {
        const bool running = runningPid() > 0;
        out << queryText(isInstalled(), running);
        code = isInstalled() || running ? 0 : 1060;
        break;
    }
    }
    out.flush();
    err.flush();
    return code;
}

int HttpdService::runApache(const QStringList &arguments, QTextStream &err, QByteArray *output)
{
    const QString apache = apacheProgram();
    if (apache.isEmpty()) {
        err << "Apache was not found (package apache2-bin)\n";
        return 1;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(layout.httpdDir());
    process.start(apache, QStringList{QStringLiteral("-f"), layout.httpdConfFile()} + arguments);
    if (!process.waitForStarted(-1)) {
        err << apache << ": " << process.errorString() << '\n';
        return 1;
    }
    process.waitForFinished(-1);
    const QByteArray text = process.readAll();
    if (output)
        *output = text;
    else
        err << QString::fromLocal8Bit(text);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 1;
}

int HttpdService::runSystemctl(const QStringList &arguments, QTextStream &err)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("systemctl"), arguments);
    if (!process.waitForStarted(-1)) {
        err << "systemctl: " << process.errorString() << '\n';
        return 1;
    }
    process.waitForFinished(-1);
    err << QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 1;
}

bool HttpdService::waitForState(bool running, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while ((runningPid() > 0) != running) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kPollMs);
    }
    return true;
}

int HttpdService::install(QTextStream &err)
{
    // Like httpd -k install: a configuration Apache refuses is not installed. "Syntax OK" is
    // not passed on, since callers count other error output as failure.
    QByteArray check;
    const int code = runApache({QStringLiteral("-t")}, err, &check);
    QString text = QString::fromLocal8Bit(check);
    text.remove(QStringLiteral("Syntax OK\n"));
    text.remove(QStringLiteral("Syntax OK"));
    err << text;
    if (code != 0)
        return code;

    QDir().mkpath(layout.httpdDir() + QStringLiteral("/logs"));
    QFile record(recordFile());
    if (!record.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
        record.write(layout.httpdConfFile().toUtf8() + '\n') < 0) {
        err << "cannot write " << record.fileName() << '\n';
        return 1;
    }
    record.close();
    if (systemdRuns()) {
        QFile unit(unitFile());
        if (!unit.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
            unit.write(
                unitText(apacheProgram(), layout.httpdConfFile(), layout.httpdPidFile()).toUtf8()) <
                0) {
            err << "cannot write " << unit.fileName() << '\n';
            record.remove();
            return 1;
        }
        unit.close();
        runSystemctl({QStringLiteral("daemon-reload")}, err);
        if (runSystemctl({QStringLiteral("enable"), kUnitName}, err) != 0)
            return 1;
    }
    err << "The " << kServiceName << " service is successfully installed.\n";
    return 0;
}

int HttpdService::uninstall(QTextStream &err)
{
    if (!isInstalled()) {
        err << notInstalledText();
        return 1;
    }
    if (systemdRuns() && QFileInfo::exists(unitFile())) {
        runSystemctl({QStringLiteral("disable"), kUnitName}, err);
        QFile::remove(unitFile());
        runSystemctl({QStringLiteral("daemon-reload")}, err);
    }
    QFile::remove(recordFile());
    err << "The " << kServiceName << " service has been removed successfully.\n";
    return 0;
}

int HttpdService::start(QTextStream &err)
{
    if (!isInstalled()) {
        err << notInstalledText();
        return 1;
    }
    if (runningPid() > 0) {
        err << "httpd (pid " << runningPid() << ") already running\n";
        return 1;
    }
    const int code = systemdRuns() && QFileInfo::exists(unitFile())
                         ? runSystemctl({QStringLiteral("start"), kUnitName}, err)
                         : runApache({QStringLiteral("-k"), QStringLiteral("start")}, err);
    if (code != 0)
        return code;
    if (!waitForState(true, kStateTimeoutMs)) {
        err << "The " << kServiceName << " service did not start; see " << layout.httpdDir()
            << "/logs/error_log\n";
        return 1;
    }
    return 0;
}

int HttpdService::stop(QTextStream &err)
{
    if (!isInstalled() && runningPid() == 0) {
        err << notInstalledText();
        return 1;
    }
    if (runningPid() == 0) {
        err << "httpd (no pid file) not running\n";
        return 1;
    }
    const int code = systemdRuns() && QFileInfo::exists(unitFile())
                         ? runSystemctl({QStringLiteral("stop"), kUnitName}, err)
                         : runApache({QStringLiteral("-k"), QStringLiteral("stop")}, err);
    if (code != 0)
        return code;
    if (!waitForState(false, kStateTimeoutMs)) {
        err << "The " << kServiceName << " service did not stop\n";
        return 1;
    }
    return 0;
}

int HttpdService::restart(QTextStream &err)
{
    if (!isInstalled()) {
        err << notInstalledText();
        return 1;
    }
    if (runningPid() == 0)
        return start(err);
    if (systemdRuns() && QFileInfo::exists(unitFile()))
        return runSystemctl({QStringLiteral("restart"), kUnitName}, err);
    // A graceful restart keeps the same parent process and so the same pid file.
    return runApache({QStringLiteral("-k"), QStringLiteral("restart")}, err);
}
