#pragma once

#include <QString>

// The texts the configuration run writes: the filled templates of the web server, the server
// program and the web manager, the database server's client authentication and the web
// manager's start script. Pure functions over texts, so that every rule is checked without
// touching a file.
class SetupFiles
{
public:
    static QString virtualHost(const QString &port, const QString &address,
                               const QString &applicationDir, int webManagerPort);
    // Replaces the placeholders of httpd.conf; the longer names before "SERVER_ROOT", which is
    // a prefix of two of them.
    static QString filledHttpdConf(const QString &text, const QString &address, const QString &port,
                                   const QString &httpdDir, const QString &virtualHostBlock);

    struct Accounts {
        QString rootUser;
        QString serverUser;
        QString managerUser;
        QString managerHost;
        // The cluster's owner account, admitted on the local socket only.
        QString ownerAccount;
    };
    static QString pgHba(const Accounts &accounts);

    static QString filledServerIni(const QString &text, const QString &user,
                                   const QString &password, int port);
    // database.yml is ERB, then YAML: each value is written for the quoting the template puts
    // around its placeholder, with "<%" kept from ERB.
    static QString filledDatabaseYml(const QString &text, const QString &user,
                                     const QString &password);
    static QString filledApplicationYml(const QString &text, const QString &address,
                                        const QString &uploadDir);
    static QString yamlFilled(const QString &text, const QString &placeholder,
                              const QString &value);

    // The shell script that starts the web manager detached, on the port and address the
    // web server's virtual host forwards to.
    static QString startRailsServer(const QString &applicationDir, const QString &startProgram,
                                    const QString &address, int webManagerPort, int postgresPort);
    static QString shellQuoted(const QString &word);
};
