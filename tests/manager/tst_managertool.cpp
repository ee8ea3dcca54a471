#include "managertool.h"
#include "pgcluster.h"
#include "serverprocess.h"
#include "testports.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

// The manager tool against a real PostgreSQL database and, for requests and notices, the
// real server program. Commands run in-process through ManagerTool; the notice listener
// runs as the real program, as a script would start it.
class TestManagerTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void listsMachines();
    void createsJobsAndAssignments_data();
    void createsJobsAndAssignments();
    void assignsAndWaitsForResults();
    void unknownNamesWriteNothing_data();
    void unknownNamesWriteNothing();
    void unreachableDatabase_data();
    void unreachableDatabase();
    void requestsReachTheServerAndNoticesArePrinted();

private:
    struct Result {
        int code;
        QString out;
        QString err;
    };
    Result tool(const QStringList &arguments, const QString &configDir = QString());
    QList<QVariantMap> rows(const QString &sql);
    void exec(const QString &sql);

    PgCluster pg;
    QTemporaryDir config;
};

namespace
{

const QString kTimestamp = QStringLiteral("2026-01-02 03:04:05");

QStringList lines(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

TestManagerTool::Result TestManagerTool::tool(const QStringList &arguments,
                                              const QString &configDir)
{
    QString out;
    QString err;
    int code = 0;
    {
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        ManagerTool manager(outStream, errStream);
        code = manager.run(QStringList{QStringLiteral("--config-dir"),
                                       configDir.isEmpty() ? config.path() : configDir} +
                           arguments);
    }
    return {code, out, err};
}

void TestManagerTool::exec(const QString &sql)
{
    QVERIFY2(pg.execAsSuperUser(sql), qPrintable(pg.errorText()));
}

QList<QVariantMap> TestManagerTool::rows(const QString &sql)
{
    QList<QVariantMap> result;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("check"));
        db.setHostName(pg.host());
        db.setPort(pg.port());
        db.setUserName(pg.userName());
        db.setPassword(pg.password());
        db.setDatabaseName(pg.databaseName());
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(sql);
            while (query.next()) {
                QVariantMap row;
                const QSqlRecord record = query.record();
                for (int i = 0; i < record.count(); ++i)
                    row.insert(record.fieldName(i).toLower(), record.value(i));
                result.append(row);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return result;
}

void TestManagerTool::initTestCase()
{
    KELVARIX_REQUIRE_PG(pg);
    QVERIFY(config.isValid());
    QVERIFY(ServerProcess::writeServerIni(config.path(),
                                          pg.serverIniLines() + ServerProcess::freePortLines()));
}

void TestManagerTool::init()
{
    exec(QStringLiteral("TRUNCATE users, machines, jobs, job_machines, job_groups, applications, "
                        "discoveries, os_details, monitorings RESTART IDENTITY"));
    // The administrator every request and job is made for, as the configuration run creates it.
    exec(QStringLiteral(
        "INSERT INTO users (id, username) OVERRIDING SYSTEM VALUE VALUES (1, 'admin'), "
        "(2, 'second')"));
    // Machines as the server registers them; one name needs escaping. Loopback addresses
    // only: the server sends wake-ups to machines whose agents wait for them.
    exec(QStringLiteral("INSERT INTO machines (id, name, peerip, port, agentType, status, uuid, "
                        "created_at, updated_at) OVERRIDING SYSTEM VALUE VALUES "
                        "(1, 'pc-01', '127.0.0.1', 0, 0, 1, 1, '%1', '%1'), "
                        "(2, 'O''Brien''s PC', '127.0.0.2', 6800, 1, 0, 2, '%1', '%1')")
             .arg(kTimestamp));
    exec(QStringLiteral("INSERT INTO applications (id, name, fileName, execName) VALUES "
                        "(7, 'editor', 'editor.zip', 'setup.sh')"));
}

void TestManagerTool::listsMachines()
{
    const Result list = tool({QStringLiteral("machines")});
    QCOMPARE(list.code, int(ManagerTool::Ok));
    QCOMPARE(
        lines(list.out),
        QStringList({QStringLiteral("id\tname\taddress\tport\tmode\tstatus\tlast_registration"),
                     QStringLiteral("1\tpc-01\t127.0.0.1\t0\tpolls\tonline\t2026-01-02T03:04:05"),
                     QStringLiteral("2\tO'Brien's PC\t127.0.0.2\t6800\twoken\toffline\t"
                                    "2026-01-02T03:04:05")}));
    QVERIFY(list.err.isEmpty());

    // A machine by its name, apostrophes and all, with what its agent reported so far.
    exec(QStringLiteral(
        "INSERT INTO os_details (OS_Caption, OS_Version, OS_Architecture, name, mid) "
        "VALUES ('Debian GNU/Linux 12', '6.1', 'x86_64', 'obrien', 2)"));
    exec(QStringLiteral("INSERT INTO monitorings (mid, created_at, cpuUsagePercentage, "
                        "memoryUsagePercentage, numberOfProcess, numberOfThread, "
                        "diskUsagePercentage, netAdapterUsagePercentage, battery) VALUES "
                        "(2, '%1', '5', '40', '120', '300', '61', '0', '0'), "
                        "(2, '2026-01-02 03:09:05', '7', '41', '121', '301', '62', '0', '0')")
             .arg(kTimestamp));
    const Result shown = tool({QStringLiteral("machine"), QStringLiteral("O'Brien's PC")});
    QCOMPARE(shown.code, int(ManagerTool::Ok));
    const QStringList text = lines(shown.out);
    QCOMPARE(text.value(0), QStringLiteral("Machine: 2"));
    QVERIFY(text.contains(QStringLiteral("Status: offline")));
    QVERIFY(text.contains(QStringLiteral("Operating system: Debian GNU/Linux 12")));
    QVERIFY(text.contains(QStringLiteral("Packages: 0")));
    QVERIFY(text.contains(QStringLiteral("Monitoring rows: 2")));
    QVERIFY2(text.contains(QStringLiteral("Latest monitoring: 2026-01-02T03:09:05 cpu 7%, memory "
                                          "41%, 121 processes, 301 threads, disk 62%, network "
                                          "0%, battery 0")),
             qPrintable(shown.out));
}

void TestManagerTool::createsJobsAndAssignments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("prm");
    QTest::addColumn<int>("prm2");
    QTest::addColumn<QString>("prm3");
    QTest::addColumn<int>("scheduleType");
    QTest::addColumn<QString>("scheduleDate"); // empty: not compared
    QTest::addColumn<int>("scheduleCount");
    QTest::addColumn<QList<int>>("machines");

    QTest::addRow("inventory of every section, immediately")
        << QStringList{QStringLiteral("--cmd"), QStringLiteral("inventory"), QStringLiteral("1")}
        << 2 << 0 << 0 << QStringLiteral("1111111111") << 5 << QString() << 0 << QList<int>{1};
    QTest::addRow("command line every 5 minutes on two machines")
        << QStringList{QStringLiteral("--cmd"),      QStringLiteral("command-line"),
                       QStringLiteral("--text"),     QStringLiteral("echo 'it''s'"),
                       QStringLiteral("--schedule"), QStringLiteral("minutes"),
                       QStringLiteral("--every"),    QStringLiteral("5"),
                       QStringLiteral("--date"),     QStringLiteral("2026-03-04 05:06:07"),
                       QStringLiteral("1"),          QStringLiteral("O'Brien's PC")}
        << 4 << 0 << 0 << QStringLiteral("echo 'it''s'") << 0
        << QStringLiteral("2026-03-04T05:06:07") << 5 << QList<int>{1, 2};
    QTest::addRow("cpu rule above 80 percent once online")
        << QStringList{QStringLiteral("--cmd"),      QStringLiteral("cpu-rule"),
                       QStringLiteral("--prm2"),     QStringLiteral("80"),
                       QStringLiteral("--schedule"), QStringLiteral("online"),
                       QStringLiteral("2")}
        << 22 << 0 << 80 << QString() << 6 << QString() << 0 << QList<int>{2};
    QTest::addRow("deployment waiting for the installer, once in an hour")
        << QStringList{QStringLiteral("--cmd"),         QStringLiteral("deploy-with-switches"),
                       QStringLiteral("--application"), QStringLiteral("7"),
                       QStringLiteral("--prm"),         QStringLiteral("1"),
                       QStringLiteral("--text"),        QStringLiteral("--quiet"),
                       QStringLiteral("--schedule"),    QStringLiteral("once"),
                       QStringLiteral("--date=+1h"),    QStringLiteral("1")}
        << 19 << 1 << 7 << QStringLiteral("--quiet") << 7 << QString() << 0 << QList<int>{1};
    QTest::addRow("unnamed code for every new machine, no machine yet")
        << QStringList{QStringLiteral("--cmd"), QStringLiteral("99"), QStringLiteral("--schedule"),
                       QStringLiteral("8")}
        << 99 << 0 << 0 << QString() << 8 << QString() << 0 << QList<int>{};
}

void TestManagerTool::createsJobsAndAssignments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, cmd);
    QFETCH(int, prm);
    QFETCH(int, prm2);
    QFETCH(QString, prm3);
    QFETCH(int, scheduleType);
    QFETCH(QString, scheduleDate);
    QFETCH(int, scheduleCount);
    QFETCH(QList<int>, machines);

    const Result created = tool(QStringList{QStringLiteral("add-job")} + arguments);
    QCOMPARE(created.code, int(ManagerTool::Ok));
    QStringList expected{QStringLiteral("job 1")};
    for (int i = 0; i < machines.size(); ++i)
        expected << QStringLiteral("assignment %1 machine %2").arg(i + 1).arg(machines.at(i));
    QCOMPARE(lines(created.out), expected);

    const QList<QVariantMap> jobs = rows(QStringLiteral("SELECT * FROM jobs"));
    QCOMPARE(jobs.size(), 1);
    const QVariantMap &job = jobs.first();
    QCOMPARE(job.value(QStringLiteral("creator")).toInt(), 1);
    QCOMPARE(job.value(QStringLiteral("cmd")).toInt(), cmd);
    QCOMPARE(job.value(QStringLiteral("prm")).toInt(), prm);
    QCOMPARE(job.value(QStringLiteral("prm2")).toInt(), prm2);
    QCOMPARE(job.value(QStringLiteral("prm3")).toString(), prm3);
    QCOMPARE(job.value(QStringLiteral("scheduletype")).toInt(), scheduleType);
    QCOMPARE(job.value(QStringLiteral("schedulecount")).toInt(), scheduleCount);
    const QDateTime date = job.value(QStringLiteral("scheduledate")).toDateTime();
    QVERIFY(date.isValid());
    if (!scheduleDate.isEmpty())
        QCOMPARE(date.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")), scheduleDate);

    // What the scheduler dispatches: one waiting, pending row per machine, owned by the creator.
    const QList<QVariantMap> assigned =
        rows(QStringLiteral("SELECT * FROM job_machines ORDER BY id"));
    QCOMPARE(assigned.size(), machines.size());
    for (int i = 0; i < machines.size(); ++i) {
        QCOMPARE(assigned.at(i).value(QStringLiteral("machine")).toInt(), machines.at(i));
        QCOMPARE(assigned.at(i).value(QStringLiteral("job")).toInt(), 1);
        QCOMPARE(assigned.at(i).value(QStringLiteral("creator")).toInt(), 1);
        QCOMPARE(assigned.at(i).value(QStringLiteral("active")).toInt(), 0);
        QCOMPARE(assigned.at(i).value(QStringLiteral("status")).toInt(), 235);
    }
}

void TestManagerTool::assignsAndWaitsForResults()
{
    const Result created =
        tool({QStringLiteral("--user"), QStringLiteral("2"), QStringLiteral("add-job"),
              QStringLiteral("--cmd"), QStringLiteral("command-line"), QStringLiteral("--text"),
              QStringLiteral("uptime"), QStringLiteral("1")});
    QCOMPARE(created.code, int(ManagerTool::Ok));
    // Assigned later, by whoever runs the tool: the row still belongs to the job's creator.
    const Result assigned =
        tool({QStringLiteral("assign"), QStringLiteral("1"), QStringLiteral("2")});
    QCOMPARE(assigned.code, int(ManagerTool::Ok));
    QCOMPARE(lines(assigned.out),
             QStringList({QStringLiteral("job 1"), QStringLiteral("assignment 2 machine 2")}));
    QCOMPARE(rows(QStringLiteral("SELECT creator FROM job_machines WHERE id=2"))
                 .value(0)
                 .value(QStringLiteral("creator"))
                 .toInt(),
             2);

    // Still pending: the wait ends at its time-out with a failure.
    Result waited = tool({QStringLiteral("wait-job"), QStringLiteral("1"),
                          QStringLiteral("--timeout"), QStringLiteral("0")});
    QCOMPARE(waited.code, int(ManagerTool::Failed));
    QVERIFY2(waited.err.contains(QStringLiteral("no result from every machine")),
             qPrintable(waited.err));

    exec(QStringLiteral("UPDATE job_machines SET active=2, status=236, reportData='up 3 days', "
                        "updated_at='%1' WHERE id=1")
             .arg(kTimestamp));
    exec(QStringLiteral("UPDATE job_machines SET active=2, status=237, reportData='' WHERE id=2"));
    waited = tool({QStringLiteral("wait-job"), QStringLiteral("1")});
    QCOMPARE(waited.code, int(ManagerTool::Failed));
    QCOMPARE(
        lines(waited.out),
        QStringList({QStringLiteral("assignment\tmachine\tname\tactive\tstatus\tupdated\treport"),
                     QStringLiteral("1\t1\tpc-01\tfinished\tsucceeded\t2026-01-02T03:04:05\tup "
                                    "3 days"),
                     lines(waited.out).value(2)}));
    QVERIFY(lines(waited.out)
                .value(2)
                .startsWith(QStringLiteral("2\t2\tO'Brien's PC\tfinished\tfailed\t")));
    QVERIFY(waited.err.contains(QStringLiteral("did not succeed")));

    exec(QStringLiteral("UPDATE job_machines SET status=236 WHERE id=2"));
    QCOMPARE(tool({QStringLiteral("wait-job"), QStringLiteral("1")}).code, int(ManagerTool::Ok));
    const Result report = tool({QStringLiteral("report"), QStringLiteral("1")});
    QCOMPARE(report.out, QStringLiteral("up 3 days\n"));
}

void TestManagerTool::unknownNamesWriteNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::addRow("job for an unknown machine id")
        << QStringList{QStringLiteral("add-job"), QStringLiteral("--cmd"),
                       QStringLiteral("inventory"), QStringLiteral("1"), QStringLiteral("99")}
        << int(ManagerTool::NotFound) << QStringLiteral("no machine \"99\"");
    QTest::addRow("job for an unknown machine name")
        << QStringList{QStringLiteral("add-job"), QStringLiteral("--cmd"),
                       QStringLiteral("inventory"), QStringLiteral("nobody's")}
        << int(ManagerTool::NotFound) << QStringLiteral("no machine \"nobody's\"");
    QTest::addRow("assignment of an unknown job")
        << QStringList{QStringLiteral("assign"), QStringLiteral("42"), QStringLiteral("1")}
        << int(ManagerTool::NotFound) << QStringLiteral("no job with id 42");
    QTest::addRow("deployment of an unknown application")
        << QStringList{QStringLiteral("add-job"), QStringLiteral("--cmd"),
                       QStringLiteral("deploy"),  QStringLiteral("--application"),
                       QStringLiteral("9"),       QStringLiteral("1")}
        << int(ManagerTool::NotFound) << QStringLiteral("no application with id 9");
    QTest::addRow("job of an unknown administrator")
        << QStringList{QStringLiteral("--user"),    QStringLiteral("5"),
                       QStringLiteral("add-job"),   QStringLiteral("--cmd"),
                       QStringLiteral("inventory"), QStringLiteral("1")}
        << int(ManagerTool::NotFound) << QStringLiteral("no administrator (users row) with id 5");
    QTest::addRow("inventory of an unknown machine")
        << QStringList{QStringLiteral("machine"), QStringLiteral("99")}
        << int(ManagerTool::NotFound) << QStringLiteral("no machine \"99\"");
    QTest::addRow("removal of an unknown application")
        << QStringList{QStringLiteral("delete-application"), QStringLiteral("9")}
        << int(ManagerTool::NotFound) << QStringLiteral("no application with id 9");
    QTest::addRow("unknown command name")
        << QStringList{QStringLiteral("add-job"), QStringLiteral("--cmd"), QStringLiteral("reboot"),
                       QStringLiteral("1")}
        << int(ManagerTool::Usage) << QStringLiteral("unknown command \"reboot\"");
    QTest::addRow("inventory text that is no section flags")
        << QStringList{QStringLiteral("add-job"), QStringLiteral("--cmd"), QStringLiteral("2"),
                       QStringLiteral("--text"),  QStringLiteral("all"),   QStringLiteral("1")}
        << int(ManagerTool::Usage) << QStringLiteral("one \"1\" or \"0\" per section");
    QTest::addRow("application id beyond the 8-bit flag")
        << QStringList{QStringLiteral("add-job"),  QStringLiteral("--cmd"),
                       QStringLiteral("undeploy"), QStringLiteral("--application"),
                       QStringLiteral("256"),      QStringLiteral("1")}
        << int(ManagerTool::Usage)
        << QStringLiteral("--application takes a whole number from 1 to 255");
}

void TestManagerTool::unknownNamesWriteNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, message);
    const Result result = tool(arguments);
    QCOMPARE(result.code, code);
    QVERIFY2(result.err.startsWith(QStringLiteral("kelvarix-manager: ")), qPrintable(result.err));
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
    QCOMPARE(rows(QStringLiteral("SELECT id FROM jobs")).size(), 0);
    QCOMPARE(rows(QStringLiteral("SELECT id FROM job_machines")).size(), 0);
    QCOMPARE(rows(QStringLiteral("SELECT id FROM applications")).size(), 1);
}

void TestManagerTool::unreachableDatabase_data()
{
    QTest::addColumn<QStringList>("iniLines");
    QTest::addColumn<QString>("message");

    QTest::addRow("wrong password") << pg.serverIniLines(QStringLiteral("not-the-password"))
                                    << QStringLiteral("password authentication failed");
    QStringList stopped = pg.serverIniLines();
    stopped.replaceInStrings(QRegularExpression(QStringLiteral("^dbPort=.*")),
                             QStringLiteral("dbPort=%1").arg(freeTcpPort()));
    QTest::addRow("no database server at the port")
        << stopped << QStringLiteral("Connection refused");
    QTest::addRow("missing embedded database")
        << QStringList{QStringLiteral("dbType=QSQLITE"), QStringLiteral("dbName=missing.sqlite")}
        << QStringLiteral("Database file not found");
    QTest::addRow("no Server.ini") << QStringList() << QStringLiteral("cannot read");
}

void TestManagerTool::unreachableDatabase()
{
    QFETCH(QStringList, iniLines);
    QFETCH(QString, message);
    QTemporaryDir dir;
    if (!iniLines.isEmpty())
        QVERIFY(ServerProcess::writeServerIni(dir.path(), iniLines));
    const Result result = tool({QStringLiteral("machines")}, dir.path());
    QCOMPARE(result.code, int(ManagerTool::DatabaseUnreachable));
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    if (!iniLines.isEmpty())
        QVERIFY2(result.err.contains(QStringLiteral("cannot open the ")), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
}

void TestManagerTool::requestsReachTheServerAndNoticesArePrinted()
{
    // Nothing listens yet: the request is not delivered, and says so.
    Result result = tool({QStringLiteral("hello")});
    QCOMPARE(result.code, int(ManagerTool::ServerUnreachable));
    QVERIFY2(result.err.contains(QStringLiteral("cannot reach the server at 127.0.0.1:")),
             qPrintable(result.err));

    ServerProcess server(config.path());
    QVERIFY(server.start());
    QVERIFY(server.waitForMessage(QStringLiteral("Kelvarix Server is running .....")));

    // An immediate job for a machine that is offline: the job check closes it and tells
    // the managers present.
    QCOMPARE(tool({QStringLiteral("add-job"), QStringLiteral("--cmd"), QStringLiteral("inventory"),
                   QStringLiteral("2")})
                 .code,
             int(ManagerTool::Ok));

    const QString requestLine = QStringLiteral("Receive request from: 127.0.0.1");
    QProcess listener;
    listener.start(QStringLiteral(MANAGER_PROGRAM),
                   {QStringLiteral("--config-dir"), config.path(), QStringLiteral("listen"),
                    QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--timeout"),
                    QStringLiteral("120")});
    QVERIFY(listener.waitForStarted(10000));
    QByteArray listenerErrors;
    QTRY_VERIFY2_WITH_TIMEOUT(
        (listenerErrors += listener.readAllStandardError()).contains("listening for notices"),
        listenerErrors.constData(), 30000);
    QVERIFY2(listenerErrors.contains("sent 10 ManagerHello to 127.0.0.1:"),
             listenerErrors.constData());
    // The listener's presence has been handled before the job check is sent.
    QTRY_COMPARE_WITH_TIMEOUT(server.messages().count(requestLine), 1, 20000);

    result = tool({QStringLiteral("job-check")});
    QCOMPARE(result.code, int(ManagerTool::Ok));
    QVERIFY(result.out.startsWith(QStringLiteral("sent 12 Hello to 127.0.0.1:")));
    QTRY_COMPARE_WITH_TIMEOUT(rows(QStringLiteral("SELECT status FROM job_machines WHERE id=1"))
                                  .value(0)
                                  .value(QStringLiteral("status"))
                                  .toInt(),
                              251, 20000);

    // An installer upload lands below the server's upload directory; removing the
    // application removes it again and is announced.
    QTemporaryDir files;
    const QString installer = files.filePath(QStringLiteral("tool.zip"));
    QByteArray bytes(250000, 'x');
    bytes.replace(0, 4, "PK\x03\x04");
    {
        QFile file(installer);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    result = tool({QStringLiteral("add-application"), QStringLiteral("--name"),
                   QStringLiteral("tool"), QStringLiteral("--exec"), QStringLiteral("setup.sh"),
                   QStringLiteral("--upload"), installer});
    QCOMPARE(result.code, int(ManagerTool::Ok));
    QCOMPARE(lines(result.out).value(0), QStringLiteral("application 1"));
    const QString stored = config.filePath(QStringLiteral("upload/tool/tool.zip"));
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(stored).size(), qint64(bytes.size()), 20000);
    QFile storedFile(stored);
    QVERIFY(storedFile.open(QIODevice::ReadOnly));
    QCOMPARE(storedFile.readAll(), bytes);

    QCOMPARE(tool({QStringLiteral("delete-application"), QStringLiteral("1")}).code,
             int(ManagerTool::Ok));
    QVERIFY(listener.waitForFinished(30000));
    QCOMPARE(listener.exitCode(), 0);
    const QStringList printed = lines(QString::fromUtf8(listener.readAllStandardOutput()));
    // Only notices on the output, so that a script can read them line by line.
    QCOMPARE(
        printed,
        QStringList({QStringLiteral("14 JobResult agentId=0 reference=0 value=0 flag=0"),
                     QStringLiteral("7 MachinesChanged agentId=0 reference=0 value=0 flag=0")}));
    QVERIFY(!QFileInfo::exists(config.filePath(QStringLiteral("upload/tool"))));
    QCOMPARE(rows(QStringLiteral("SELECT id FROM applications WHERE id=1")).size(), 0);
    server.stop();
}

QTEST_GUILESS_MAIN(TestManagerTool)
#include "tst_managertool.moc"
