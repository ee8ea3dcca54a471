#include "servertools.h"

#include "httpdservice.h"
#include "postgrescontrol.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace
{

const QString kCtlName = QStringLiteral("kelvarix-ctl");
const QString kServerName = QStringLiteral("KelvarixServer");

PostgresControl::Action controlAction(ServerTools::Postgres action)
{
    switch (action) {
    case ServerTools::Postgres::InitCluster:
        return PostgresControl::Action::InitCluster;
    case ServerTools::Postgres::Start:
        return PostgresControl::Action::Start;
    case ServerTools::Postgres::Stop:
        return PostgresControl::Action::Stop;
    case ServerTools::Postgres::StopFast:
        return PostgresControl::Action::StopFast;
    case ServerTools::Postgres::Restart:
        return PostgresControl::Action::Restart;
    case ServerTools::Postgres::Reload:
        return PostgresControl::Action::Reload;
    case ServerTools::Postgres::Status:
        break;
    }
    return PostgresControl::Action::Status;
}

HttpdService::Action serviceAction(ServerTools::Httpd action)
{
    switch (action) {
    case ServerTools::Httpd::Install:
        return HttpdService::Action::Install;
    case ServerTools::Httpd::Uninstall:
        return HttpdService::Action::Uninstall;
    case ServerTools::Httpd::Start:
        return HttpdService::Action::Start;
    case ServerTools::Httpd::Stop:
        return HttpdService::Action::Stop;
    case ServerTools::Httpd::Restart:
        return HttpdService::Action::Restart;
    case ServerTools::Httpd::Query:
        break;
    }
    return HttpdService::Action::Query;
}

} // namespace

ServerTools::ServerTools(const ServerLayout &layout) : machine(layout) {}

const ServerLayout &ServerTools::layout() const
{
    return machine;
}

QString ServerTools::ctlProgram() const
{
    const QString besideMe = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kCtlName;
    if (QFileInfo(besideMe).isExecutable())
        return besideMe;
    return machine.programDir() + QLatin1Char('/') + kCtlName;
}

ToolCommand ServerTools::ctl(const QStringList &arguments) const
{
    return {ctlProgram(),
            QStringList{QStringLiteral("--program-dir"), machine.programDir()} + arguments};
}

ToolCommand ServerTools::postgres(Postgres action) const
{
    return ctl({QStringLiteral("postgres"), PostgresControl::actionName(controlAction(action))});
}

ToolCommand ServerTools::createTmpUser() const
{
    return ctl({QStringLiteral("postgres"),
                PostgresControl::actionName(PostgresControl::Action::CreateTmpUser)});
}

ToolCommand ServerTools::httpd(Httpd action) const
{
    return ctl({QStringLiteral("httpd"), HttpdService::actionName(serviceAction(action))});
}

ToolCommand ServerTools::webManagerPid(const QString &separator) const
{
    return {machine.railsPidScript(), {separator}};
}

ToolCommand ServerTools::terminate(qint64 pid, bool force) const
{
    if (pid < 1)
        return {};
    QStringList arguments{QStringLiteral("kill")};
    if (force)
        arguments << QStringLiteral("--force");
    arguments << QString::number(pid);
    return {ctlProgram(), arguments};
}

ToolCommand ServerTools::serverQuery() const
{
    return ctl({QStringLiteral("server"), QStringLiteral("query")});
}

ToolCommand ServerTools::serverStop(bool force) const
{
    QStringList arguments{QStringLiteral("server"), QStringLiteral("stop")};
    if (force)
        arguments << QStringLiteral("--force");
    return ctl(arguments);
}

bool ServerTools::managerAddress(QString *address) const
{
    QFile conf(machine.httpdConfFile());
    if (!conf.open(QIODevice::ReadOnly | QIODevice::Text)) {
        address->clear();
        return false;
    }
    *address = managerAddressFrom(QString::fromUtf8(conf.readAll()));
    return true;
}

QString ServerTools::managerAddressFrom(const QString &httpdConf)
{
    // The second word after a single blank; two blanks give an empty word, as does a line
    // with the keyword alone. Later lines win, so the virtual host's name counts.
    const auto secondWord = [](const QString &line) {
        return line.split(QLatin1Char(' ')).value(1).trimmed();
    };
    QString host;
    QString port;
    for (const QString &line : httpdConf.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ServerName")))
            host = secondWord(line);
        else if (line.startsWith(QLatin1String("Listen")))
            port = secondWord(line);
    }
    return host + QLatin1Char(':') + port;
}

bool ServerTools::startWebManager() const
{
    return QProcess::startDetached(machine.startRailsServerFile(), {}, machine.binDir());
}

bool ServerTools::startServer(const QStringList &arguments) const
{
    return QProcess::startDetached(machine.serverProgram(), arguments, machine.programDir());
}

ServerTools::State ServerTools::httpdState(const QString &output)
{
    if (output.contains(QLatin1String("4  RUNNING")))
        return State::Running;
    if (output.contains(QLatin1String("1  STOPPED")))
        return State::Stopped;
    return State::Unknown;
}

ServerTools::State ServerTools::postgresState(const QString &output)
{
    if (output.contains(QLatin1String("server is running")))
        return State::Running;
    if (output.contains(QLatin1String("no server running")))
        return State::Stopped;
    return State::Unknown;
}

qint64 ServerTools::pidFromOutput(const QString &output, const QString &separator)
{
    const QStringList lines = output.split(QLatin1Char('\n'));
    if (lines.isEmpty())
        return 0;
    bool ok = false;
    const qint64 pid = lines.first().split(separator).first().trimmed().toLongLong(&ok, 10);
    return ok ? pid : 0;
}

bool ServerTools::serverListed(const QString &output)
{
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(kServerName))
            return true;
    }
    return false;
}

QString ServerTools::uninstallerSeparator()
{
    return QStringLiteral("<split>");
}

QString ServerTools::servicesSeparator()
{
    return QStringLiteral("-*-");
}
