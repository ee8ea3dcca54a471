#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A throwaway PostgreSQL cluster for one test executable: initdb in a fresh temporary
// directory, its own loopback port and socket directory, the roles and the database set up
// the way the configuration run does it (group zvn, the server's account in that group,
// database zvndb owned by it), then the schema files loaded as one batch each.
// Runs as the postgres user when the test runs as root (PostgreSQL refuses root).
//
//     PgCluster pg;                      // in the test class
//     void initTestCase() { KELVARIX_REQUIRE_PG(pg); }
//
// Clients connect with host() / port() / databaseName() / userName() / password() over
// TCP (password checked), or as superUser() through socketDir() without a password.
class PgCluster
{
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Creates, starts and loads the cluster; false with errorText() when any step fails.
    bool start();
    // Stops the running cluster (the data stays) and starts it again on the same port.
    bool stop();
    bool restart();
    bool isRunning() const;

    QString host() const;
    int port() const;
    QString databaseName() const;
    QString userName() const;
    QString password() const;
    QString superUser() const;
    QString socketDir() const;
    QString errorText() const;

    // Server.ini lines for this cluster; a non-empty password replaces the right one.
    QStringList serverIniLines(const QString &passwordOverride = QString()) const;
    // Runs one statement (or batch) on zvndb as the superuser; false with errorText().
    bool execAsSuperUser(const QString &sql);

    // The repository's sql/ directory.
    static QString sqlDir();
    // Where the cluster must run: with CI set, a cluster that cannot start is a failure.
    static bool required();

private:
    bool runTool(const QString &tool, const QStringList &arguments, int timeoutMs);
    bool setUpDatabase();
    bool execOn(const QString &database, const QStringList &statements);
    QString dataDir() const;

    std::unique_ptr<QTemporaryDir> root;
    QString binDir;
    QString error;
    int clusterPort = 0;
    bool running = false;
};

// Start the cluster or stop the test: QFAIL under CI, QSKIP elsewhere.
#define KELVARIX_REQUIRE_PG(cluster)                                                               \
    do {                                                                                           \
        if (!(cluster).start()) {                                                                  \
            const QByteArray why = (cluster).errorText().toLocal8Bit();                            \
            if (PgCluster::required())                                                             \
                QFAIL(why.constData());                                                            \
            QSKIP(why.constData());                                                                \
        }                                                                                          \
    } while (false)
