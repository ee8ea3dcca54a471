#include "agenttestutil.h"
#include "command.h"
#include "pgcluster.h"
#include "serverprocess.h"

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

private:
    QVariant value(const QString &sql);
    bool requestJobCheck();

    PgCluster pg;
    QTemporaryDir serverDir;
    QTemporaryDir agentDir;
    QScopedPointer<ServerProcess> server;
    QProcess agent;
    QSqlDatabase db;
    int managerPort = 0;
    int machineId = 0;
};

static int portFrom(const QStringList &lines, const QString &key)
{
    for (const QString &line : lines)
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1).toInt();
    return 0;
}

void TestAgentEndToEnd::initTestCase()
{
    registerCommandMetaType();
    KELVARIX_REQUIRE_PG(pg);
    const QStringList ports = ServerProcess::freePortLines();
    managerPort = portFrom(ports, QStringLiteral("ServerManagerPort"));
    const int agentServerPort = portFrom(ports, QStringLiteral("ServerAgentPort"));
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
    QVERIFY(writeTextFile(agentDir.filePath(QStringLiteral("Agent.ini")),
                          "[Client]\nAddress=127.0.0.1\nServerPort=" +
                              QByteArray::number(agentServerPort) +
                              "\nAgentPort=" + QByteArray::number(freeUdpPort()) +
                              "\nPollServer=0\nNegotiateOnStartup=1\n"));
    agent.setProcessChannelMode(QProcess::MergedChannels);
    agent.start(program, QStringList());
    QVERIFY2(agent.waitForStarted(10000), qPrintable(agent.errorString()));
    const QString key = agentDir.filePath(QStringLiteral("Agent.key"));
    QTRY_VERIFY_WITH_TIMEOUT(readTextFile(key).startsWith("[Client]\nUUID="), 20000);
    machineId = readTextFile(key).mid(14).toInt();
    QVERIFY(machineId > 0);
    QTRY_COMPARE_WITH_TIMEOUT(value(QStringLiteral("SELECT status FROM machines WHERE id=%1")
                                        .arg(machineId))
                                  .toInt(),
                              1, 20000);
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
    socket.waitForDisconnected(5000);
    return true;
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
    QSqlQuery job(db);
    // Schedule type 6: as soon as the machine is online.
    QVERIFY(job.prepare(QStringLiteral("INSERT INTO jobs (creator, cmd, prm, prm2, prm3, "
                                       "scheduleType, scheduleDate, scheduleCount) VALUES (1, 4, "
                                       "0, 0, ?, 6, LOCALTIMESTAMP(0), 1) RETURNING id")));
    job.addBindValue(commandLine);
    QVERIFY2(job.exec() && job.next(), qPrintable(job.lastError().text()));
    const int jobId = job.value(0).toInt();
    const int assignment =
        value(QStringLiteral("INSERT INTO job_machines (creator, machine, job, active, status) "
                             "VALUES (1, %1, %2, 0, 235) RETURNING id")
                  .arg(machineId)
                  .arg(jobId))
            .toInt();
    QVERIFY(assignment > 0);

    QVERIFY(requestJobCheck());
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(assignment))
            .toInt(),
        2, 30000);
    QCOMPARE(value(QStringLiteral("SELECT status FROM job_machines WHERE id=%1").arg(assignment))
                 .toInt(),
             status);
    QCOMPARE(value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1")
                       .arg(assignment))
                 .toString(),
             reportData);
    const QByteArray log = readTextFile(agentDir.filePath(QStringLiteral("Agent.log")));
    QVERIFY2(log.contains("Command Line Execution: " + commandLine.toUtf8()), log.constData());
}

QTEST_GUILESS_MAIN(TestAgentEndToEnd)
#include "tst_agentendtoend.moc"
