#pragma once

#include <QString>

// Ports of the services the set-up creates, unless Services.ini names others.
constexpr int kDefaultPostgresPort = 5432;
constexpr int kDefaultWebManagerPort = 3000;

// Where the pieces of an installed server machine live. Every path derives from the base
// directory: the directory of the programs, <base>/kelvarix, without that last "/kelvarix".
// Services.ini beside the programs names the ports of the database server and of the web
// manager, for machines where the defaults are already taken.
class ServerLayout
{
public:
    // An empty directory means the running program's own.
    explicit ServerLayout(const QString &programDir = QString());

    static QString baseDirFor(const QString &programDir);
    // Applies one "Key=value" line of Services.ini; false when it names no known key.
    bool applyServicesLine(const QString &line);

    QString programDir() const;
    QString baseDir() const;

    QString postgresDir() const;
    QString clusterDir() const;
    QString postgresLogFile() const;
    QString pgHbaFile() const;
    QString postgresConfFile() const;

    QString httpdDir() const;
    QString httpdConfFile() const;
    QString httpdPidFile() const;

    QString applicationDir() const;
    QString databaseYmlFile() const;
    QString applicationYmlFile() const;
    QString webManagerStartProgram() const;
    QString webManagerPidFile() const;

    QString binDir() const;
    QString startRailsServerFile() const;
    QString railsPidScript() const;

    QString serverIniFile() const;
    QString servicesIniFile() const;
    QString structureFile() const;
    QString defaultValuesFile() const;
    QString uploadDir() const;
    QString serverProgram() const;
    QString serverPidFile() const;

    int postgresPort() const;
    int webManagerPort() const;

private:
    void readServicesIni();

    QString program;
    QString base;
    int pgPort = kDefaultPostgresPort;
    int railsPort = kDefaultWebManagerPort;
};
