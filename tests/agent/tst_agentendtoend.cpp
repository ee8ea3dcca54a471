#include "agenttestutil.h"
#include "command.h"
#include "pgcluster.h"
#include "serverprocess.h"
#include "zipwriter.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

// The agent service program and the server program against PostgreSQL: an administrator's
// command-line job travels from the tables to the agent and its result back into them.
class TestAgentEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandLineJob_data();
    void commandLineJob();
    void inventoryJob();
    void zipDeploymentJob();
    void alarmRuleJob();

private:
    QVariant value(const QString &sql);
    bool requestJobCheck();
    // Assigns a new job to the agent's machine and asks for a job check; the assignment's id.
    int assignJob(int cmd, int prm, int prm2, const QString &prm3);

    PgCluster pg;
    QTemporaryDir serverDir;
    QTemporaryDir agentDir;
    QScopedPointer<ServerProcess> server;
    QProcess agent;
    QSqlDatabase db;
    int managerPort = 0;
    int machineId = 0;
};

void TestAgentEndToEnd::initTestCase()
{
    registerCommandMetaType();
    KELVARIX_REQUIRE_PG(pg);
    const QStringList ports = ServerProcess::freePortLines();
    managerPort = ServerProcess::portIn(ports, QStringLiteral("ServerManagerPort"));
    const int agentServerPort = ServerProcess::portIn(ports, QStringLiteral("ServerAgentPort"));
    QVERIFY(managerPort > 0 && agentServerPort > 0);
    QVERIFY(ServerProcess::writeServerIni(serverDir.path(), pg.serverIniLines() + ports));
    server.reset(new ServerProcess(serverDir.path()));
    QVERIFY(server->start());
    QVERIFY2(server->waitForMessage(QStringLiteral("Kelvarix Server is running .....")),
             qPrintable(server->output()));

    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("endtoend"));
    db.setHostName(pg.host());
    db.setPort(pg.port());
    db.setDatabaseName(pg.databaseName());
    db.setUserName(pg.userName());
    db.setPassword(pg.password());
    QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    QVERIFY(db.exec(QStringLiteral("INSERT INTO users (id, username, user_level) VALUES "
                                   "(1, 'admin', 1)"))
                .lastError()
                .type() == QSqlError::NoError);

    // The agent registers at start-up and then listens for blind packets.
    const QString program = agentDir.filePath(QStringLiteral("KelvarixAgentService"));
    QVERIFY(QFile::copy(QStringLiteral(AGENT_SERVICE_PROGRAM), program));
    QVERIFY(writeTextFile(
        agentDir.filePath(QStringLiteral("Agent.ini")),
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(agentServerPort) +
            "\nAgentPort=" + QByteArray::number(freeUdpPort()) +
            "\nPollServer=0\nNegotiateOnStartup=1\nTimerPeriod=1000\n"));
    // Inventories and alarm checks read the fixture machine.
    const QString registry = agentDir.filePath(QStringLiteral("registry.json"));
    QVERIFY(writeTextFile(registry, R"({"uninstall": [{"key": "ed", "DisplayName": "Editor",
        "DisplayVersion": "1.2", "Publisher": "Acme"}], "run": {}})"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("INVPROBE_FIXTURE"),
               QStringLiteral(AGENT_FIXTURE_DIR "/inventory.json"));
    env.insert(QStringLiteral("INVPROBE_REGISTRY"), registry);
    agent.setProcessEnvironment(env);
    agent.setProcessChannelMode(QProcess::MergedChannels);
    agent.start(program, QStringList());
    QVERIFY2(agent.waitForStarted(10000), qPrintable(agent.errorString()));
    const QString key = agentDir.filePath(QStringLiteral("Agent.key"));
    QTRY_VERIFY_WITH_TIMEOUT(readTextFile(key).startsWith("[Client]\nUUID="), 20000);
    machineId = readTextFile(key).mid(14).toInt();
    QVERIFY(machineId > 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT status FROM machines WHERE id=%1").arg(machineId)).toInt(), 1,
        20000);
}

void TestAgentEndToEnd::cleanupTestCase()
{
    if (agent.state() != QProcess::NotRunning) {
        ::kill(pid_t(agent.processId()), SIGTERM);
        agent.waitForFinished(20000);
    }
    if (server)
        server->stop();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("endtoend"));
}

QVariant TestAgentEndToEnd::value(const QString &sql)
{
    QSqlQuery q = db.exec(sql);
    return q.next() ? q.value(0) : QVariant();
}

// What the web manager does after assigning a job: a job check for its administrator.
bool TestAgentEndToEnd::requestJobCheck()
{
    Command check;
    initCommand(check, 1, CommandType::Hello, 0);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(managerPort));
    if (!socket.waitForConnected(10000))
        return false;
    socket.write(encodeHeader(check) + payloadBytes(check));
    if (!socket.waitForBytesWritten(10000))
        return false;
    // The server sends nothing back; a manager closes once its request is out.
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(5000);
    return true;
}

int TestAgentEndToEnd::assignJob(int cmd, int prm, int prm2, const QString &prm3)
{
    QSqlQuery job(db);
    // Schedule type 6: as soon as the machine is online.
    job.prepare(QStringLiteral("INSERT INTO jobs (creator, cmd, prm, prm2, prm3, scheduleType, "
                               "scheduleDate, scheduleCount) VALUES (1, ?, ?, ?, ?, 6, "
                               "LOCALTIMESTAMP(0), 1) RETURNING id"));
    job.addBindValue(cmd);
    job.addBindValue(prm);
    job.addBindValue(prm2);
    job.addBindValue(prm3);
    if (!job.exec() || !job.next()) {
        qWarning() << job.lastError().text();
        return 0;
    }
    const int assignment =
        value(QStringLiteral("INSERT INTO job_machines (creator, machine, job, active, status) "
                             "VALUES (1, %1, %2, 0, 235) RETURNING id")
                  .arg(machineId)
                  .arg(job.value(0).toInt()))
            .toInt();
    return assignment > 0 && requestJobCheck() ? assignment : 0;
}

void TestAgentEndToEnd::commandLineJob_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reportData");
    QTest::addRow("output stored") << "echo hello" << 236 << "hello\n\n";
    QTest::addRow("program that does not exist")
        << "kelvarix-no-such-program" << 237 << "FailedTostart Error";
}

void TestAgentEndToEnd::commandLineJob()
{
    QFETCH(QString, commandLine);
    QFETCH(int, status);
    QFETCH(QString, reportData);
    const int assignment = assignJob(CommandType::CommandLine, 0, 0, commandLine);
    QVERIFY(assignment > 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(assignment))
            .toInt(),
        2, 30000);
    QCOMPARE(value(QStringLiteral("SELECT status FROM job_machines WHERE id=%1").arg(assignment))
                 .toInt(),
             status);
    QCOMPARE(
        value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(assignment))
            .toString(),
        reportData);
    const QByteArray log = readTextFile(agentDir.filePath(QStringLiteral("Agent.log")));
    QVERIFY2(log.contains("Command Line Execution: " + commandLine.toUtf8()), log.constData());
}

// A full inventory of the fixture machine lands in the machine's rows.
void TestAgentEndToEnd::inventoryJob()
{
    const int assignment = assignJob(CommandType::Inventory, 0, 0, QStringLiteral("1111111111"));
    QVERIFY(assignment > 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT status FROM job_machines WHERE id=%1").arg(assignment))
            .toInt(),
        236, 30000);
    const QString mid = QString::number(machineId);
    QSqlQuery os = db.exec(QStringLiteral("SELECT OS_Caption, OS_Version, OS_Architecture, "
                                          "OS_SerialNumber FROM os_details WHERE mid=") +
                           mid);
    QVERIFY(os.next());
    QCOMPARE(os.value(0).toString(), QStringLiteral("Microsoft Windows 7 Professional"));
    QCOMPARE(os.value(1).toString(), QStringLiteral("6.1.7601"));
    QCOMPARE(os.value(2).toString(), QStringLiteral("64-bit"));
    QCOMPARE(os.value(3).toString(), QStringLiteral("00371-OEM-8992671-00524"));
    QVERIFY(!os.next());
    QCOMPARE(value("SELECT count(*) FROM memories WHERE mid=" + mid).toInt(), 2);
    QCOMPARE(value("SELECT name FROM shares WHERE mid=" + mid).toString(),
             QStringLiteral("ADMIN$"));
    QCOMPARE(value("SELECT count(*) FROM environment_variables WHERE mid=" + mid).toInt(), 2);
    QCOMPARE(value("SELECT count(*) FROM monitorings WHERE mid=" + mid).toInt(), 1);
    const QByteArray log = readTextFile(agentDir.filePath(QStringLiteral("Agent.log")));
    QVERIFY(log.contains("Inventory Execution"));
}

// An uploaded zip travels from the server's upload directory to the agent, which unpacks it
// and runs its script with the application's switches.
void TestAgentEndToEnd::zipDeploymentJob()
{
    QVERIFY(QDir(serverDir.path()).mkpath(QStringLiteral("upload/Tools")));
    ZipWriter zip;
    zip.add(QStringLiteral("setup.sh"), "#!/bin/sh\necho \"installed $*\"\n", 0755);
    QVERIFY(zip.write(serverDir.filePath(QStringLiteral("upload/Tools/Tools.ZIP"))));
    QVERIFY(db.exec(QStringLiteral("INSERT INTO applications (id, name, fileName, execName, "
                                   "installSwitches) VALUES (3, 'Tools', 'Tools.ZIP', "
                                   "'setup.sh', '--quiet')"))
                .lastError()
                .type() == QSqlError::NoError);
    const int assignment = assignJob(CommandType::DeployWithSwitches, 1, 3, QString());
    QVERIFY(assignment > 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(assignment))
            .toInt(),
        2, 30000);
    QCOMPARE(value(QStringLiteral("SELECT status FROM job_machines WHERE id=%1").arg(assignment))
                 .toInt(),
             236);
    QCOMPARE(
        value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(assignment))
            .toString(),
        QStringLiteral("installed --quiet\n\n"));
    const QDir upload(agentDir.filePath(QStringLiteral("upload")));
    const QStringList fresh = upload.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(fresh.size(), 1);
    QVERIFY(QFile::exists(upload.filePath(fresh[0] + QStringLiteral("/Tools.ZIP"))));
}

// A processor rule below the fixture's 7 % makes the worker report; the rows carry the
// identity the server gave this agent at its first contact.
void TestAgentEndToEnd::alarmRuleJob()
{
    QVERIFY(assignJob(CommandType::CpuRule, 0, 5, QString()) > 0);
    const QString rows =
        QStringLiteral("SELECT count(*) FROM alarms WHERE alarm_id=22 AND mid=%1").arg(machineId);
    QTRY_VERIFY_WITH_TIMEOUT(value(rows).toInt() >= 1, 30000);
    QCOMPARE(value(QStringLiteral("SELECT data FROM alarms WHERE mid=%1 ORDER BY id LIMIT 1")
                       .arg(machineId))
                 .toString(),
             QStringLiteral("7"));
    QCOMPARE(
        value(QStringLiteral("SELECT count(*) FROM alarms WHERE mid<>%1").arg(machineId)).toInt(),
        0);
    // No machine was registered for the alarm connection.
    QCOMPARE(value(QStringLiteral("SELECT count(*) FROM machines")).toInt(), 1);
}

QTEST_GUILESS_MAIN(TestAgentEndToEnd)
#include "tst_agentendtoend.moc"
