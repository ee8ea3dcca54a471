#include "databaseconnection.h"
#include "datetimetext.h"
#include "masterserver.h"
#include "pgcluster.h"
#include "serverprocess.h"
#include "serverrunner.h"
#include "sqltext.h"

#include <QDir>
#include <QProcess>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <ctime>

// Runs every storage check against both drivers: a throwaway PostgreSQL cluster and an
// SQLite file loaded with the sqlite3 shell, each from the repository's schema files.
class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void schema_data();
    void schema();
    void bothSchemasAgree();
    void valueRoundTrip_data();
    void valueRoundTrip();
    void dateTimeRoundTrip_data();
    void dateTimeRoundTrip();
    void inventoryStatementsAccepted_data();
    void inventoryStatementsAccepted();
    void openFailures();
    void missingSqliteFileIsNotCreated();
    void checkDbWhileClusterStopped();

private:
    void addDriverRows();
    QSqlDatabase database(const QString &driver);

    PgCluster pg;
    bool pgReady = false;
    QTemporaryDir sqliteDir;
    QString sqliteFile;
    DatabaseConnection pgConnection;
    DatabaseConnection sqliteConnection;
};

namespace
{

// Every table the server and the ingestion write, with the columns they name.
const QList<QPair<QString, QStringList>> &expectedTables()
{
    static const QList<QPair<QString, QStringList>> tables = {
        {"machines",
         {"id", "name", "peerip", "port", "agentType", "status", "uuid", "created_at",
          "updated_at"}},
        {"jobs",
         {"id", "creator", "cmd", "prm", "prm2", "prm3", "scheduleType", "scheduleDate",
          "scheduleCount"}},
        {"job_machines",
         {"id", "creator", "machine", "job", "active", "status", "reportData", "created_at",
          "updated_at"}},
        {"job_groups", {"job"}},
        {"applications",
         {"id", "name", "fileName", "execName", "installSwitches", "uninstallname",
          "uninstallSwitches"}},
        {"users", {"id", "username", "passwd", "full_name", "user_level"}},
        {"discoveries", {"id", "net_ip", "mask", "port"}},
        {"alarms", {"alarm_id", "data", "mid", "created_at", "updated_at"}},
        {"os_details",
         {"OS_Caption", "OS_Version", "OS_Servicepack", "OS_Architecture", "OS_SerialNumber",
          "name", "mid", "created_at", "updated_at"}},
        {"memories",
         {"memory_id", "form", "detail", "memory_type", "size", "speed", "mid", "created_at",
          "updated_at"}},
        {"drives",
         {"name", "description", "filesystem", "size", "volumeSerialNumber", "mid", "available",
          "created_at", "updated_at"}},
        {"cpus",
         {"cpu_id", "name", "manufacturer", "description", "processorid", "architecture",
          "numberofcores", "maxclockspeed", "mid", "created_at", "updated_at"}},
        {"video_controllers",
         {"name", "adapterram", "acceleratorcapabilities", "adapterdactype", "driverversion",
          "installeddrivers", "videomode", "videoarch", "videomemtype", "mid", "created_at",
          "updated_at"}},
        {"network_adapters",
         {"name", "adaptertype", "manufacturer", "macaddress", "dhcpenabled", "ipaddress",
          "ipsubnet", "defaultipgateway", "dhcpserver", "mid", "created_at", "updated_at"}},
        {"aggregate_values",
         {"memory_size", "cpu_numbers", "drive_size", "mid", "created_at", "updated_at",
          "available"}},
        {"softwares",
         {"displayName", "publisher", "version", "installLocation", "unistallString", "mid",
          "created_at", "updated_at"}},
        {"processes", {"pid", "name", "path", "mid", "created_at", "updated_at"}},
        {"environment_variables",
         {"name", "systemvariable", "variablevalue", "mid", "created_at", "updated_at"}},
        {"os_services",
         {"display_name", "name", "process_id", "path_name", "state", "start_mode", "error_control",
          "mid", "created_at", "updated_at"}},
        {"printers",
         {"caption", "name", "status", "sharename", "portname", "network", "shared", "mid",
          "created_at", "updated_at"}},
        {"start_up_applications",
         {"name", "description", "command", "username", "location", "mid", "created_at",
          "updated_at"}},
        {"updates",
         {"name", "status", "hotfixid", "caption", "InstalledOn", "ServicePackInEffect", "mid",
          "created_at", "updated_at"}},
        {"os_users", {"caption", "domain", "fullname", "name", "mid", "created_at", "updated_at"}},
        {"shares", {"name", "description", "caption", "path", "mid", "created_at", "updated_at"}},
        {"monitorings",
         {"mid", "created_at", "updated_at", "cpuUsagePercentage", "memoryUsagePercentage",
          "numberOfProcess", "numberOfThread", "diskUsagePercentage", "netAdapterUsagePercentage",
          "battery"}},
    };
    return tables;
}

QStringList lowerColumns(const QSqlRecord &record)
{
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i).toLower();
    return names;
}

} // namespace

void TestDatabase::initTestCase()
{
    // A zone with daylight saving, so that any conversion between zones would show.
    qputenv("TZ", "Europe/Berlin");
    tzset();

    QVERIFY(sqliteDir.isValid());
    sqliteFile = sqliteDir.filePath(QStringLiteral("zvn.sqlite"));
    for (const char *file : {"zvn_struct_sqlite.sql", "zvn_fill.sql"}) {
        QProcess shell;
        shell.setStandardInputFile(PgCluster::sqlDir() + QLatin1Char('/') + QLatin1String(file));
        shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), sqliteFile});
        QVERIFY2(shell.waitForFinished(60000), file);
        QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
        QVERIFY2(shell.readAllStandardError().isEmpty(), file);
    }
    QVERIFY(sqliteConnection.openNamed(QStringLiteral("QSQLITE"), QString(), QString(), QString(),
                                       sqliteFile, QStringLiteral("sqlite")));

    pgReady = pg.start();
    if (!pgReady) {
        if (PgCluster::required())
            QFAIL(qPrintable(pg.errorText()));
        qWarning("PostgreSQL cases skipped: %s", qPrintable(pg.errorText()));
        return;
    }
    pgConnection.setPort(pg.port());
    QVERIFY2(pgConnection.openNamed(QStringLiteral("QPSQL"), pg.host(), pg.userName(),
                                    pg.password(), pg.databaseName(), QStringLiteral("pg")),
             qPrintable(pgConnection.lastErrorText()));
}

void TestDatabase::cleanupTestCase()
{
    pgConnection.closeAndRemove();
    sqliteConnection.closeAndRemove();
}

void TestDatabase::addDriverRows()
{
    QTest::addColumn<QString>("driver");
}

QSqlDatabase TestDatabase::database(const QString &driver)
{
    return driver == QLatin1String("QPSQL") ? pgConnection.database() : sqliteConnection.database();
}

#define SKIP_WITHOUT_PG(driver)                                                                    \
    if ((driver) == QLatin1String("QPSQL") && !pgReady)                                            \
        QSKIP("PostgreSQL not available");

void TestDatabase::schema_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");
    for (const char *driver : {"QSQLITE", "QPSQL"})
        for (const auto &table : expectedTables())
            QTest::addRow("%s %s", driver, qPrintable(table.first))
                << driver << table.first << table.second;
}

void TestDatabase::schema()
{
    QFETCH(QString, driver);
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    SKIP_WITHOUT_PG(driver);
    // The server's account must reach the table, as the server does.
    QSqlQuery query(database(driver));
    QVERIFY2(query.exec(QStringLiteral("SELECT * FROM %1 LIMIT 1").arg(table)), qPrintable(table));
    const QStringList present = lowerColumns(query.record());
    for (const QString &column : columns)
        QVERIFY2(present.contains(column.toLower()), qPrintable(table + QLatin1Char('.') + column));
}

void TestDatabase::bothSchemasAgree()
{
    if (!pgReady)
        QSKIP("PostgreSQL not available");
    QStringList pgTables = pgConnection.database().tables();
    QStringList sqliteTables = sqliteConnection.database().tables();
    sqliteTables.removeAll(QStringLiteral("sqlite_sequence"));
    pgTables.sort();
    sqliteTables.sort();
    QCOMPARE(sqliteTables, pgTables);
    for (const QString &table : qAsConst(pgTables)) {
        QStringList pgColumns = lowerColumns(pgConnection.database().record(table));
        QStringList sqliteColumns = lowerColumns(sqliteConnection.database().record(table));
        QCOMPARE(sqliteColumns, pgColumns);
    }
}

void TestDatabase::valueRoundTrip_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("value");
    const QString nasty = QString::fromLatin1("O'Brien\\'s PC; caf\xe9 \xd1o\xf1o \xbd \\\\ '' \\");
    for (const char *driver : {"QSQLITE", "QPSQL"}) {
        QTest::addRow("%s apostrophes backslashes latin-1", driver) << driver << nasty;
        QTest::addRow("%s statement break", driver)
            << driver << QStringLiteral("x'); DELETE FROM machines; --");
        QTest::addRow("%s placeholders", driver) << driver << QStringLiteral("%1 %2 50%");
        QTest::addRow("%s empty", driver) << driver << QString();
    }
}

void TestDatabase::valueRoundTrip()
{
    QFETCH(QString, driver);
    QFETCH(QString, value);
    SKIP_WITHOUT_PG(driver);
    const QSqlDatabase db = database(driver);
    // A sentinel row that a broken statement would delete.
    QVERIFY(SqlText(QStringLiteral("INSERT INTO machines (name, peerip, created_at, status) VALUES "
                                   "('%1','%2','%3', '1')"))
                .text(QStringLiteral("sentinel"))
                .text(QStringLiteral("127.0.0.1"))
                .text(DateTimeText::now())
                .exec(db)
                .isActive());
    QVERIFY(SqlText(QStringLiteral("INSERT INTO machines (name, peerip, agentType, port, "
                                   "created_at, status) VALUES ('%1','%2','%3','%4','%5', '1')"))
                .text(value)
                .text(QStringLiteral("127.0.0.2"))
                .number(0)
                .number(quint16(6722))
                .text(DateTimeText::now())
                .exec(db)
                .isActive());
    QSqlQuery query = SqlText(QStringLiteral("SELECT name FROM machines WHERE peerip='%1'"))
                          .text(QStringLiteral("127.0.0.2"))
                          .exec(db);
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), value);
    QVERIFY(!query.next());

    // The same through an UPDATE into a report text.
    QVERIFY(
        SqlText(QStringLiteral("UPDATE machines SET name='%1', updated_at='%2' WHERE peerip='%3'"))
            .text(value + value)
            .text(DateTimeText::now())
            .text(QStringLiteral("127.0.0.2"))
            .exec(db)
            .isActive());
    query = SqlText(QStringLiteral("SELECT name FROM machines WHERE peerip='127.0.0.2'")).exec(db);
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), value + value);

    query = SqlText(QStringLiteral("SELECT count(*) FROM machines WHERE name='sentinel'")).exec(db);
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 1);
    SqlText(QStringLiteral("DELETE FROM machines")).exec(db);
}

void TestDatabase::dateTimeRoundTrip_data()
{
    addDriverRows();
    QTest::addRow("QSQLITE") << "QSQLITE";
    QTest::addRow("QPSQL") << "QPSQL";
}

void TestDatabase::dateTimeRoundTrip()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    const QSqlDatabase db = database(driver);
    // Summer time in the test's zone, and a time inside the spring-forward gap's neighbour.
    const QDateTime when(QDate(2026, 7, 14), QTime(23, 59, 58));
    QVERIFY(SqlText(QStringLiteral(
                        "INSERT INTO jobs (creator, cmd, prm, prm2, prm3, scheduleType, "
                        "scheduleDate, scheduleCount) VALUES (%1, %2, 0, 0, '%3', 0, '%4', 1)"))
                .number(1)
                .number(quint8(4))
                .text(QStringLiteral("echo"))
                .text(DateTimeText::toDatabase(when))
                .exec(db)
                .isActive());
    QSqlQuery query =
        SqlText(QStringLiteral("SELECT scheduleDate, created_at FROM jobs WHERE prm3='echo'"))
            .exec(db);
    QVERIFY(query.next());
    QCOMPARE(DateTimeText::fromDatabase(query.value(0)), QStringLiteral("2026-07-14T23:59:58"));
    QCOMPARE(DateTimeText::parse(query.value(0)), when);
    // The column default is local time too, within a minute of now.
    const QDateTime created = DateTimeText::parse(query.value(1));
    QVERIFY2(qAbs(created.secsTo(QDateTime::currentDateTime())) < 60,
             qPrintable(DateTimeText::fromDatabase(query.value(1))));
    SqlText(QStringLiteral("DELETE FROM jobs")).exec(db);
}

void TestDatabase::inventoryStatementsAccepted_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("expected");
    const QString now = DateTimeText::now();
    const QString dates = QStringLiteral("'%1','%1'").arg(now);
    for (const char *driver : {"QSQLITE", "QPSQL"}) {
        QTest::addRow("%s aggregate totals unquoted", driver)
            << driver
            << QStringLiteral("INSERT INTO "
                              "aggregate_values(memory_size,cpu_numbers,drive_size,mid,created_at,"
                              "updated_at) VALUES (1.04858e+06,2,1397.27,5,%1)")
                   .arg(dates)
            << "SELECT cpu_numbers FROM aggregate_values WHERE mid=5"
            << "2";
        QTest::addRow("%s drive available then free space", driver)
            << driver
            << QStringLiteral("INSERT into drives (name, description, filesystem, size, "
                              "volumeSerialNumber, mid, available, created_at,updated_at) VALUES "
                              "('C:','Local Fixed Disk','ext4','465.76','A1B2', 5, 0,  %1)")
                       .arg(dates) +
                   QStringLiteral("\nUPDATE drives SET available='12.50' where name='C:' AND mid=5")
            << "SELECT available FROM drives WHERE mid=5"
            << "12.50";
        QTest::addRow("%s os_details mid quoted", driver)
            << driver
            << QStringLiteral("INSERT into os_details (OS_Caption, OS_Version, OS_Servicepack, "
                              "OS_Architecture, OS_SerialNumber, name, mid, created_at,updated_at) "
                              "VALUES ('Debian','12','','64-bit','', 'PC-042','5', %1)")
                   .arg(dates)
            << "SELECT name FROM os_details WHERE mid=5"
            << "PC-042";
        QTest::addRow("%s inventory text not numeric", driver)
            << driver
            << QStringLiteral("INSERT into memories (memory_id, form, detail, memory_type, size, "
                              "speed, mid, created_at,updated_at) VALUES ('BANK "
                              "0','DIMM','Synchronous','DDR4','&lt;unknown&gt;','', 5, %1)")
                   .arg(dates)
            << "SELECT size FROM memories WHERE mid=5"
            << "&lt;unknown&gt;";
        QTest::addRow("%s monitoring row", driver)
            << driver
            << QStringLiteral(
                   "INSERT into monitorings (mid, created_at,updated_at, cpuUsagePercentage, "
                   "memoryUsagePercentage, numberOfProcess, numberOfThread, diskUsagePercentage, "
                   "netAdapterUsagePercentage, battery) VALUES (5, %1, '7', '41.5', '210', '1500', "
                   "'0', '3.5', '0')")
                   .arg(dates)
            << "SELECT netAdapterUsagePercentage FROM monitorings WHERE mid=5"
            << "3.5";
        QTest::addRow("%s alarm id quoted", driver)
            << driver
            << QStringLiteral("INSERT into alarms (alarm_id, data, mid, created_at, updated_at) "
                              "VALUES ('3', 'notepad.exe', 5, %1)")
                   .arg(dates)
            << "SELECT alarm_id FROM alarms WHERE mid=5"
            << "3";
        QTest::addRow("%s machine status as text", driver)
            << driver
            << QStringLiteral("INSERT INTO machines (name, peerip, agentType, port, created_at, "
                              "status) VALUES ('PC','10.0.0.1','0','0','%1', '1')\nUPDATE machines "
                              "SET status='0' WHERE peerip='10.0.0.1'")
                   .arg(now)
            << "SELECT status FROM machines WHERE peerip='10.0.0.1'"
            << "0";
    }
}

void TestDatabase::inventoryStatementsAccepted()
{
    QFETCH(QString, driver);
    QFETCH(QString, statement);
    QFETCH(QString, check);
    QFETCH(QString, expected);
    SKIP_WITHOUT_PG(driver);
    const QSqlDatabase db = database(driver);
    for (const QString &part : statement.split(QLatin1Char('\n'))) {
        QSqlQuery query(db);
        QVERIFY2(query.exec(part), qPrintable(part));
    }
    QSqlQuery query(db);
    QVERIFY(query.exec(check));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), expected);
    for (const char *table : {"aggregate_values", "drives", "os_details", "memories", "monitorings",
                              "alarms", "machines"})
        query.exec(QStringLiteral("DELETE FROM ") + QLatin1String(table));
}

void TestDatabase::openFailures()
{
    if (!pgReady)
        QSKIP("PostgreSQL not available");
    DatabaseConnection connection;
    connection.setPort(pg.port());
    QVERIFY(!connection.openNamed(QStringLiteral("QPSQL"), pg.host(), pg.userName(),
                                  QStringLiteral("wrong"), pg.databaseName(),
                                  QStringLiteral("wrongpw")));
    QVERIFY2(connection.lastErrorText().contains(QLatin1String("password authentication failed")),
             qPrintable(connection.lastErrorText()));
    connection.closeAndRemove();
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("wrongpw")));
}

void TestDatabase::missingSqliteFileIsNotCreated()
{
    QTemporaryDir dir;
    DatabaseConnection connection;
    connection.setBaseDir(dir.path());
    QVERIFY(!connection.openDefault(QStringLiteral("QSQLITE"), QString(), QString(), QString(),
                                    QStringLiteral("absent.sqlite")));
    QVERIFY(connection.lastErrorText().contains(dir.filePath(QStringLiteral("absent.sqlite"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("absent.sqlite"))));
}

void TestDatabase::checkDbWhileClusterStopped()
{
    if (!pgReady)
        QSKIP("PostgreSQL not available");
    QTemporaryDir dir;
    QVERIFY(ServerProcess::writeServerIni(dir.path(),
                                          pg.serverIniLines() + ServerProcess::freePortLines()));

    QStringList messages;
    auto *server = new MasterServer(dir.path());
    ServerRunner runner(server);
    connect(
        server, &MasterServer::writeUILog, this,
        [&messages](const QString &msg) { messages << msg; }, Qt::QueuedConnection);
    runner.start();
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Kelvarix Server is running .....")),
                             30000);

    QVERIFY2(pg.stop(), qPrintable(pg.errorText()));
    QMetaObject::invokeMethod(server, "checkDB", Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Connection to DB failed")), 30000);
    QVERIFY(runner.serverThread()->isRunning());

    QVERIFY2(pg.restart(), qPrintable(pg.errorText()));
    QMetaObject::invokeMethod(server, "checkDB", Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Connection to DB successful")),
                             30000);
    // Only the temporary connection came and went; the default one stays registered.
    QCOMPARE(messages.count(QStringLiteral("Connection to DB failed")), 1);
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
