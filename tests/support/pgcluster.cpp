#include "pgcluster.h"

#include "testports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{

const QString kDatabase = QStringLiteral("zvndb");
const QString kUser = QStringLiteral("kelvarix");
const QString kPassword = QStringLiteral("kx-Test-pw1");
const QString kSuperUser = QStringLiteral("postgres");
constexpr int kToolTimeoutMs = 120000;
constexpr int kStartAttempts = 3;

QString findBinDir()
{
    const QString fromEnv = qEnvironmentVariable("KELVARIX_PG_BIN");
    if (!fromEnv.isEmpty())
        return fromEnv;
    if (QFileInfo::exists(QStringLiteral("/usr/lib/postgresql/15/bin/initdb")))
        return QStringLiteral("/usr/lib/postgresql/15/bin");
    // Another packaged major version: take the newest.
    QDir base(QStringLiteral("/usr/lib/postgresql"));
    const QStringList versions = base.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (int i = versions.size() - 1; i >= 0; --i) {
        const QString dir = base.filePath(versions.at(i) + QStringLiteral("/bin"));
        if (QFileInfo::exists(dir + QStringLiteral("/initdb")))
            return dir;
    }
    return QString();
}

bool giveToPostgres(const QString &path)
{
    if (geteuid() != 0)
        return true;
    const struct passwd *pw = getpwnam("postgres");
    if (!pw)
        return false;
    return chown(QFile::encodeName(path).constData(), pw->pw_uid, pw->pw_gid) == 0;
}

} // namespace

PgCluster::PgCluster() = default;

PgCluster::~PgCluster()
{
    if (running)
        runTool(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("immediate"),
                 QStringLiteral("-w"), QStringLiteral("stop")},
                kToolTimeoutMs);
}

bool PgCluster::required()
{
    return qEnvironmentVariableIsSet("CI");
}

QString PgCluster::sqlDir()
{
    return QStringLiteral(KELVARIX_SQL_DIR);
}

QString PgCluster::dataDir() const
{
    return root ? root->filePath(QStringLiteral("data")) : QString();
}

bool PgCluster::runTool(const QString &tool, const QStringList &arguments, int timeoutMs)
{
    QString program = binDir + QLatin1Char('/') + tool;
    QStringList args = arguments;
    if (geteuid() == 0) {
        args = QStringList{QStringLiteral("-u"), kSuperUser, QStringLiteral("--"), program} + args;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The server must not inherit a working directory postgres cannot enter.
    process.setWorkingDirectory(root->path());
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs)) {
        error = tool + QStringLiteral(" could not start: ") + process.errorString();
        return false;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        error = tool + QStringLiteral(" timed out");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QByteArray output = process.readAll();
        error = tool + QStringLiteral(" failed: ") +
                QString::fromLocal8Bit(output.constData(), output.size());
        return false;
    }
    return true;
}

bool PgCluster::start()
{
    if (running)
        return true;
    binDir = findBinDir();
    if (binDir.isEmpty()) {
        error = QStringLiteral("PostgreSQL server binaries not found (initdb)");
        return false;
    }
    root =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kelvarix-pg-XXXXXX"));
    if (!root->isValid()) {
        error = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    QDir(root->path()).mkpath(QStringLiteral("sock"));
    if (!giveToPostgres(root->path()) || !giveToPostgres(socketDir())) {
        error = QStringLiteral("cannot hand the cluster directory to the postgres user");
        return false;
    }
    if (!runTool(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), kSuperUser,
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-locale"),
                  QStringLiteral("--auth-local=trust"),
                  QStringLiteral("--auth-host=scram-sha-256")},
                 kToolTimeoutMs))
        return false;

    for (int attempt = 0; attempt < kStartAttempts && !running; ++attempt) {
        clusterPort = freeTcpPort();
        running = restart();
    }
    if (!running)
        return false;
    return setUpDatabase();
}

bool PgCluster::restart()
{
    if (running)
        return true;
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                .arg(clusterPort)
                                .arg(socketDir());
    running = runTool(QStringLiteral("pg_ctl"),
                      {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"),
                       root->filePath(QStringLiteral("postgres.log")), QStringLiteral("-w"),
                       QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"), options,
                       QStringLiteral("start")},
                      kToolTimeoutMs);
    return running;
}

bool PgCluster::stop()
{
    if (!running)
        return true;
    if (!runTool(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("fast"),
                  QStringLiteral("-w"), QStringLiteral("stop")},
                 kToolTimeoutMs))
        return false;
    running = false;
    return true;
}

bool PgCluster::isRunning() const
{
    return running;
}

bool PgCluster::execOn(const QString &database, const QStringList &statements)
{
    static int serial = 0;
    const QString name = QStringLiteral("pgcluster-%1").arg(++serial);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketDir());
        db.setPort(clusterPort);
        db.setUserName(kSuperUser);
        db.setDatabaseName(database);
        if (!db.open()) {
            error = QStringLiteral("cannot connect as superuser: ") + db.lastError().text();
            ok = false;
        }
        for (int i = 0; ok && i < statements.size(); ++i) {
            QSqlQuery query(db);
            if (!query.exec(statements.at(i))) {
                error = QStringLiteral("statement failed: ") + query.lastError().text() +
                        QStringLiteral("\n") + statements.at(i).left(200);
                ok = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool PgCluster::setUpDatabase()
{
    if (!execOn(
            QStringLiteral("postgres"),
            {QStringLiteral("CREATE GROUP zvn"),
             QStringLiteral("CREATE ROLE %1 WITH PASSWORD '%2' LOGIN IN GROUP zvn")
                 .arg(kUser, kPassword),
             QStringLiteral("CREATE DATABASE %1 WITH OWNER = %2").arg(kDatabase, kUser),
             QStringLiteral("REVOKE CONNECT,TEMPORARY ON DATABASE %1 FROM PUBLIC").arg(kDatabase)}))
        return false;
    // Each file whole, as one batch, as the configuration run loads them.
    QStringList batches;
    for (const char *file : {"zvn_struct_postgresql.sql", "zvn_fill.sql"}) {
        QFile sql(sqlDir() + QLatin1Char('/') + QLatin1String(file));
        if (!sql.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read ") + sql.fileName();
            return false;
        }
        const QByteArray bytes = sql.readAll();
        batches.append(QString::fromLatin1(bytes.constData(), bytes.size()));
    }
    return execOn(kDatabase, batches);
}

bool PgCluster::execAsSuperUser(const QString &sql)
{
    return execOn(kDatabase, {sql});
}

QString PgCluster::host() const
{
    return QStringLiteral("127.0.0.1");
}
int PgCluster::port() const
{
    return clusterPort;
}
QString PgCluster::databaseName() const
{
    return kDatabase;
}
QString PgCluster::userName() const
{
    return kUser;
}
QString PgCluster::password() const
{
    return kPassword;
}
QString PgCluster::superUser() const
{
    return kSuperUser;
}
QString PgCluster::socketDir() const
{
    return root ? root->filePath(QStringLiteral("sock")) : QString();
}
QString PgCluster::errorText() const
{
    return error;
}

QStringList PgCluster::serverIniLines(const QString &passwordOverride) const
{
    return {QStringLiteral("[Database]"),
            QStringLiteral("dbServer=") + host(),
            QStringLiteral("dbUsername=") + userName(),
            QStringLiteral("dbPassword=") +
                (passwordOverride.isEmpty() ? password() : passwordOverride),
            QStringLiteral("dbName=") + databaseName(),
            QStringLiteral("dbType=QPSQL"),
            QStringLiteral("dbPort=") + QString::number(port())};
}
