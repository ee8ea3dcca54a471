#include "serverlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace
{

const QString kProgramFolder = QStringLiteral("/kelvarix");
const QString kServicesIni = QStringLiteral("Services.ini");
constexpr int kHighestPort = 65535;

QString cleanDir(const QString &dir)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(QDir(dir).absolutePath()));
}

} // namespace

ServerLayout::ServerLayout(const QString &programDir)
    : program(cleanDir(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir)),
      base(baseDirFor(program))
{
    readServicesIni();
}

QString ServerLayout::baseDirFor(const QString &programDir)
{
    // Only the programs' own folder is dropped: a base such as /opt/kelvarix-server must keep
    // its name, which removing every "/kelvarix" in the path would cut to "/opt-server".
    const QString dir = QDir::cleanPath(programDir);
    if (dir.endsWith(kProgramFolder) && dir.size() > kProgramFolder.size())
        return dir.left(dir.size() - kProgramFolder.size());
    return dir;
}

bool ServerLayout::applyServicesLine(const QString &line)
{
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return false;
    const QString key = line.left(equals).trimmed();
    bool ok = false;
    const int value = line.mid(equals + 1).trimmed().toInt(&ok, 10);
    // A port that cannot be one keeps the default rather than breaking every service.
    const bool valid = ok && value > 0 && value <= kHighestPort;
    if (key == QLatin1String("PostgresPort")) {
        if (valid)
            pgPort = value;
        return true;
    }
    if (key == QLatin1String("WebManagerPort")) {
        if (valid)
            railsPort = value;
        return true;
    }
    return false;
}

void ServerLayout::readServicesIni()
{
    QFile file(servicesIniFile());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        applyServicesLine(QString::fromUtf8(line));
    }
}

QString ServerLayout::programDir() const
{
    return program;
}
QString ServerLayout::baseDir() const
{
    return base;
}

QString ServerLayout::postgresDir() const
{
    return base + QStringLiteral("/postgresql");
}
QString ServerLayout::clusterDir() const
{
    return postgresDir() + QStringLiteral("/data");
}
QString ServerLayout::postgresLogFile() const
{
    return postgresDir() + QStringLiteral("/logfile.txt");
}
QString ServerLayout::pgHbaFile() const
{
    return clusterDir() + QStringLiteral("/pg_hba.conf");
}
QString ServerLayout::postgresConfFile() const
{
    return clusterDir() + QStringLiteral("/postgresql.conf");
}

QString ServerLayout::httpdDir() const
{
    return base + QStringLiteral("/httpd");
}
QString ServerLayout::httpdConfFile() const
{
    return httpdDir() + QStringLiteral("/conf/httpd.conf");
}
QString ServerLayout::httpdPidFile() const
{
    return httpdDir() + QStringLiteral("/logs/httpd.pid");
}

QString ServerLayout::applicationDir() const
{
    return base + QStringLiteral("/application");
}
QString ServerLayout::databaseYmlFile() const
{
    return applicationDir() + QStringLiteral("/config/database.yml");
}
QString ServerLayout::applicationYmlFile() const
{
    return applicationDir() + QStringLiteral("/config/application.yml");
}
QString ServerLayout::webManagerStartProgram() const
{
    return applicationDir() + QStringLiteral("/bin/start-web-manager");
}
QString ServerLayout::webManagerPidFile() const
{
    return applicationDir() + QStringLiteral("/tmp/pids/server.pid");
}

QString ServerLayout::binDir() const
{
    return base + QStringLiteral("/bin");
}
QString ServerLayout::startRailsServerFile() const
{
    return binDir() + QStringLiteral("/start_rails_server");
}
QString ServerLayout::railsPidScript() const
{
    return binDir() + QStringLiteral("/rails_pid");
}

QString ServerLayout::serverIniFile() const
{
    return program + QStringLiteral("/Server.ini");
}
QString ServerLayout::servicesIniFile() const
{
    return program + QLatin1Char('/') + kServicesIni;
}
QString ServerLayout::structureFile() const
{
    return program + QStringLiteral("/sql/zvn_struct_postgresql.sql");
}
QString ServerLayout::defaultValuesFile() const
{
    return program + QStringLiteral("/sql/zvn_fill.sql");
}
QString ServerLayout::uploadDir() const
{
    return program + QStringLiteral("/upload");
}
QString ServerLayout::serverProgram() const
{
    return program + QStringLiteral("/KelvarixServer");
}
QString ServerLayout::serverPidFile() const
{
    return program + QStringLiteral("/KelvarixServer.pid");
}

int ServerLayout::postgresPort() const
{
    return pgPort;
}
int ServerLayout::webManagerPort() const
{
    return railsPort;
}
