#include "agentprocess.h"
#include "agenttestutil.h"
#include "browserclient.h"
#include "command.h"
#include "managerside.h"
#include "pgcluster.h"
#include "serverprocess.h"
#include "zipwriter.h"

#include <QDir>
#include <QtTest>
#include <memory>

namespace
{

// A short observer period, so that offline marking shows within seconds; the manager
// renews its presence well within it.
constexpr int kObserverPeriodMs = 3000;
constexpr int kPresenceIntervalMs = 1000;
constexpr int kApplicationId = 7;
constexpr int kResultTimeoutMs = 30000;

// Waits until the browser has received this text among those not yet taken.
bool browserHears(BrowserClient &browser, const QString &text, int timeoutMs = 15000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString next = browser.takeText(int(qMax<qint64>(1, deadline.remainingTime())));
        if (next == text)
            return true;
    }
    return false;
}

} // namespace

// The server program, three agent services on one loopback host, the manager tool, and
// browser pages, all against one PostgreSQL cluster. The scenarios build on
// each other in declaration order: machines registered first are the targets of later jobs.
class TestIntegration : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void registration();
    void commandLineThroughBlindPackets_data();
    void commandLineThroughBlindPackets();
    void inventory();
    void uploadDeployRemoveDelete();
    void alarmRules();
    void discoveryOfLoopback();
    void browsersShareWhatOneSends();
    void offlineMarkingOnObserverTicks();

private:
    QVariant value(const QString &sql) { return manager->value(sql); }
    // A job for one machine through the tool, then a job check; the assignment, or 0.
    int runJob(const QStringList &options, int machineId);
    int count(const QString &sql)
    {
        return value(QStringLiteral("SELECT count(*) ") + sql).toInt();
    }

    PgCluster pg;
    QTemporaryDir serverDir;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<ManagerSide> manager;
    std::unique_ptr<AgentProcess> alpha;
    std::unique_ptr<AgentProcess> beta;
    std::unique_ptr<AgentProcess> gamma;
    BrowserClient browser;
    int serverAgentPort = 0;
    int webSocketPort = 0;
    int alphaId = 0;
    int betaId = 0;
};

void TestIntegration::initTestCase()
{
    registerCommandMetaType();
    KELVARIX_REQUIRE_PG(pg);

    const QStringList ports = ServerProcess::freePortLines();
    serverAgentPort = ServerProcess::portIn(ports, QStringLiteral("ServerAgentPort"));
    QVERIFY(ServerProcess::writeServerIni(serverDir.path(), pg.serverIniLines() + ports));
    qputenv("KELVARIX_OBSERVER_PERIOD_MS", QByteArray::number(kObserverPeriodMs));
    server.reset(new ServerProcess(serverDir.path()));
    QVERIFY(server->start());
    QVERIFY2(server->waitForMessage(QStringLiteral("Kelvarix Server is running .....")),
             qPrintable(server->output()));
    QVERIFY(server->waitForMessage(
        QStringLiteral("Observer period: %1 ms (KELVARIX_OBSERVER_PERIOD_MS)")
            .arg(kObserverPeriodMs)));

    manager.reset(new ManagerSide(pg, serverDir.path(),
                                  ServerProcess::portIn(ports, QStringLiteral("ServerManagerPort")),
                                  ServerProcess::portIn(ports, QStringLiteral("ManagerPort"))));
    QVERIFY(manager->open());
    QVERIFY(manager->addAdministrator(QStringLiteral("admin")));
    manager->keepPresent(kPresenceIntervalMs);
    webSocketPort = ServerProcess::portIn(ports, QStringLiteral("WebSocketPort"));
    QVERIFY(browser.open(webSocketPort));

    const QString fixture = QStringLiteral(AGENT_FIXTURE_DIR "/inventory.json");
    alpha.reset(new AgentProcess(serverAgentPort, fixture));
    beta.reset(new AgentProcess(serverAgentPort, fixture));
    gamma.reset(new AgentProcess(serverAgentPort, fixture));
    // Beta's software list names an uninstaller kept beside it, which records its arguments
    // and takes the package off the list, as a real removal would.
    const QString uninstaller = beta->filePath(QStringLiteral("uninst.sh"));
    const QByteArray registry = beta->filePath(QStringLiteral("registry.json")).toUtf8();
    QVERIFY(writeTextFile(uninstaller, "#!/bin/sh\necho \"$@\" > '" +
                                           beta->filePath(QStringLiteral("removed")).toUtf8() +
                                           "'\necho '{\"uninstall\": [], \"run\": {}}' > '" +
                                           registry + "'\n"));
    QVERIFY(
        QFile::setPermissions(uninstaller, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(beta->setRegistry(R"({"uninstall": [{"key": "tools", "DisplayName": "Tool Suite 2.0",
        "DisplayVersion": "2.0", "UninstallString": ")" +
                              uninstaller.toUtf8() + R"( --purge"}], "run": {}})"));

    QVERIFY(alpha->start(true));
    QVERIFY(beta->start(true));
    alphaId = alpha->waitForIdentity();
    betaId = beta->waitForIdentity();
    QVERIFY2(alphaId > 0, alpha->output().constData());
    QVERIFY2(betaId > 0, beta->output().constData());
}

void TestIntegration::cleanupTestCase()
{
    for (auto *agent : {alpha.get(), beta.get(), gamma.get()})
        if (agent)
            agent->stop();
    if (server)
        server->stop();
}

int TestIntegration::runJob(const QStringList &options, int machineId)
{
    const int assignment = manager->addJob(options, {machineId}).value(0);
    return assignment > 0 && manager->tool({QStringLiteral("job-check")}) == 0 ? assignment : 0;
}

// Each agent service registers at start-up as its own machine, reachable on its own port.
void TestIntegration::registration()
{
    QVERIFY(alphaId != betaId);
    for (AgentProcess *agent : {alpha.get(), beta.get()}) {
        const QString row = QStringLiteral("FROM machines WHERE id=%1 AND peerip='127.0.0.1' "
                                           "AND port=%2 AND agentType=1 AND uuid=id")
                                .arg(agent->machineId())
                                .arg(agent->udpPort());
        QTRY_COMPARE_WITH_TIMEOUT(count(row + QStringLiteral(" AND status=1")), 1, 10000);
        // What an administrator's script waits on before it assigns jobs.
        QString waited;
        QCOMPARE(manager->tool({QStringLiteral("wait-machine"), QStringLiteral("--port"),
                                QString::number(agent->udpPort()), QStringLiteral("--timeout"),
                                QStringLiteral("10")},
                               &waited),
                 0);
        QCOMPARE(waited.trimmed().toInt(), agent->machineId());
        QVERIFY(
            value(QStringLiteral("SELECT name FROM machines WHERE id=%1").arg(agent->machineId()))
                .toString()
                .endsWith(QLatin1Char('-') + QString::number(agent->udpPort())));
    }
    QCOMPARE(count(QStringLiteral("FROM machines")), 2);
    // The manager heard of the new machines and of the agents' identity reports; the page
    // was told to refresh its machine list.
    QVERIFY(manager->waitForNotice(CommandType::MachinesChanged, 0));
    QVERIFY(manager->waitForNotice(CommandType::Identity, 0));
    for (const Command &notice : qAsConst(manager->notices))
        QVERIFY(notice.payload.isEmpty());
    QVERIFY(browserHears(browser, QStringLiteral("Machine")));
}

void TestIntegration::commandLineThroughBlindPackets_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reportData");
    QTest::addRow("output stored") << "echo hello" << 236 << "hello\n\n";
    QTest::addRow("program that does not exist")
        << "kelvarix-no-such-program" << 237 << "FailedTostart Error";
}

// One job for both machines: the job check request wakes each agent with a blind packet to
// its own port (neither polls), and each result lands in its own assignment.
void TestIntegration::commandLineThroughBlindPackets()
{
    QFETCH(QString, commandLine);
    QFETCH(int, status);
    QFETCH(QString, reportData);
    const int noticesBefore = manager->notices.size();
    const QList<int> assignments =
        manager->addJob({QStringLiteral("--cmd"), QStringLiteral("command-line"),
                         QStringLiteral("--text"), commandLine},
                        {alphaId, betaId});
    QVERIFY(assignments.size() == 2 && !assignments.contains(0));
    QCOMPARE(manager->tool({QStringLiteral("job-check")}), 0);

    for (int assignment : assignments) {
        QCOMPARE(manager->waitForResult(assignment, kResultTimeoutMs), status);
        QCOMPARE(
            value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(assignment))
                .toString(),
            reportData);
    }
    for (AgentProcess *agent : {alpha.get(), beta.get()}) {
        const QByteArray log = agent->log();
        QVERIFY2(log.contains("Receiving blind packet"), log.constData());
        QVERIFY(log.contains("Command Line Execution: " + commandLine.toUtf8()));
    }
    QVERIFY(manager->waitForNotice(CommandType::JobResult, noticesBefore));
    QVERIFY(browserHears(browser, QStringLiteral("JobStateChanged")));
}

// A full inventory of the fixture machine is stored for the machine that ran it only.
void TestIntegration::inventory()
{
    const int noticesBefore = manager->notices.size();
    const QList<int> assignments =
        manager->addJob({QStringLiteral("--cmd"), QStringLiteral("inventory")}, {alphaId});
    QCOMPARE(assignments.size(), 1);
    QCOMPARE(manager->tool({QStringLiteral("job-check")}), 0);
    QCOMPARE(manager->waitForResult(assignments.value(0), kResultTimeoutMs), 236);

    const QString alphaRows = QStringLiteral(" WHERE mid=%1").arg(alphaId);
    QCOMPARE(value("SELECT OS_Caption FROM os_details" + alphaRows).toString(),
             QStringLiteral("Microsoft Windows 7 Professional"));
    QCOMPARE(count("FROM os_details" + alphaRows), 1);
    QCOMPARE(count("FROM memories" + alphaRows), 2);
    QCOMPARE(count("FROM monitorings" + alphaRows), 1);
    QCOMPARE(count(QStringLiteral("FROM os_details WHERE mid=%1").arg(betaId)), 0);
    // The report reaches the manager without its document.
    QVERIFY(manager->waitForNotice(CommandType::InventoryResult, noticesBefore));
    for (int i = noticesBefore; i < manager->notices.size(); ++i)
        QVERIFY(manager->notices.at(i).payload.isEmpty());
    QVERIFY(browserHears(browser, QStringLiteral("JobStateChanged")));
}

// An installer uploaded through the manager port is deployed to a machine and removed from
// it again; deleting the application takes its installer and every job that refers to it.
void TestIntegration::uploadDeployRemoveDelete()
{
    // Beta watches its software list from before anything is installed.
    const int changesRule =
        runJob({QStringLiteral("--cmd"), QStringLiteral("changes-rule")}, betaId);
    QVERIFY(changesRule > 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(changesRule))
            .toInt(),
        1, kResultTimeoutMs);

    const QString application = QString::number(kApplicationId);
    QCOMPARE(manager->tool({QStringLiteral("add-application"), QStringLiteral("--id"), application,
                            QStringLiteral("--name"), QStringLiteral("Tool Suite"),
                            QStringLiteral("--file"), QStringLiteral("tool.zip"),
                            QStringLiteral("--exec"), QStringLiteral("setup.sh"),
                            QStringLiteral("--install-switches"), QStringLiteral("--quiet"),
                            QStringLiteral("--uninstall-name"), QStringLiteral("Tool Suite"),
                            QStringLiteral("--uninstall-switches"), QStringLiteral("-q")}),
             0);
    const QStringList deploy{
        QStringLiteral("--cmd"), QStringLiteral("deploy-with-switches"), QStringLiteral("--prm"),
        QStringLiteral("1"),     QStringLiteral("--application"),        application};
    // Nothing uploaded yet: the server records the missing installer without the agent.
    const int early = runJob(deploy, betaId);
    QVERIFY(early > 0);
    QCOMPARE(manager->waitForResult(early, kResultTimeoutMs), 238);
    QVERIFY(server->waitForMessage(QStringLiteral("Could not find installer in path: ") +
                                   serverDir.filePath(QStringLiteral("kelvarix/upload"))));
    QVERIFY(!QFileInfo::exists(beta->filePath(QStringLiteral("upload"))));

    const QString packagePath = serverDir.filePath(QStringLiteral("source.zip"));
    ZipWriter zip;
    zip.add(QStringLiteral("setup.sh"), "#!/bin/sh\necho \"installed $*\"\n", 0755);
    QVERIFY(zip.write(packagePath));
    const QByteArray package = readTextFile(packagePath);
    const QString stored = serverDir.filePath(QStringLiteral("upload/Tool Suite/tool.zip"));
    QCOMPARE(manager->tool({QStringLiteral("upload"), application, packagePath}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(readTextFile(stored), package, 10000);

    // Deployment with value 1: the agent waits for the program and reports its output.
    const int deployment = runJob(deploy, betaId);
    QVERIFY(deployment > 0);
    QCOMPARE(manager->waitForResult(deployment, kResultTimeoutMs), 236);
    QCOMPARE(
        value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(deployment))
            .toString(),
        QStringLiteral("installed --quiet\n\n"));
    const QDir upload(beta->filePath(QStringLiteral("upload")));
    const QStringList fresh = upload.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(fresh.size(), 1);
    QCOMPARE(readTextFile(upload.filePath(fresh[0] + QStringLiteral("/tool.zip"))), package);
    QVERIFY(QFile::exists(upload.filePath(fresh[0] + QStringLiteral("/setup.sh"))));

    // Removal by the application's name through beta's software list.
    const int removal = runJob({QStringLiteral("--cmd"), QStringLiteral("undeploy-with-switches"),
                                QStringLiteral("--application"), application},
                               betaId);
    QVERIFY(removal > 0);
    QCOMPARE(manager->waitForResult(removal, kResultTimeoutMs), 236);
    QCOMPARE(value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(removal))
                 .toString(),
             beta->filePath(QStringLiteral("uninst.sh")) + QStringLiteral(" --purge -q"));
    QTRY_COMPARE_WITH_TIMEOUT(readTextFile(beta->filePath(QStringLiteral("removed"))),
                              QByteArray("--purge -q\n"), 10000);
    // The changes rule reports the package gone from the software list.
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT data FROM alarms WHERE alarm_id=29 AND mid=%1").arg(betaId))
            .toString(),
        QStringLiteral("Tool Suite 2.0--2.0"), kResultTimeoutMs);

    const int noticesBefore = manager->notices.size();
    const QString jobsOfApplication = QStringLiteral("FROM jobs WHERE prm2=%1").arg(kApplicationId);
    QCOMPARE(count(jobsOfApplication), 3);
    QCOMPARE(manager->tool({QStringLiteral("delete-application"), application}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(count(jobsOfApplication), 0, 10000);
    QCOMPARE(count(QStringLiteral("FROM applications")), 0);
    QCOMPARE(
        count(
            QStringLiteral("FROM job_machines WHERE id IN (%1, %2)").arg(deployment).arg(removal)),
        0);
    QVERIFY(!QFileInfo::exists(serverDir.filePath(QStringLiteral("upload/Tool Suite"))));
    QVERIFY(manager->waitForNotice(CommandType::MachinesChanged, noticesBefore));
    QVERIFY(browserHears(browser, QStringLiteral("Machine")));
}

// Rules given as jobs make the agent's worker report; a removed rule stops reporting while
// the others go on.
void TestIntegration::alarmRules()
{
    // The fixture machine runs at 7 % processor and 75 % memory.
    QCOMPARE(manager
                 ->addJob({QStringLiteral("--cmd"), QStringLiteral("cpu-rule"),
                           QStringLiteral("--prm2"), QStringLiteral("5")},
                          {alphaId})
                 .size(),
             1);
    QCOMPARE(manager
                 ->addJob({QStringLiteral("--cmd"), QStringLiteral("memory-rule"),
                           QStringLiteral("--prm2"), QStringLiteral("50")},
                          {alphaId})
                 .size(),
             1);
    QCOMPARE(manager->tool({QStringLiteral("job-check")}), 0);

    const QString cpuAlarms =
        QStringLiteral("FROM alarms WHERE alarm_id=22 AND mid=%1").arg(alphaId);
    const QString memoryAlarms =
        QStringLiteral("FROM alarms WHERE alarm_id=24 AND mid=%1").arg(alphaId);
    QTRY_VERIFY_WITH_TIMEOUT(count(cpuAlarms) >= 1, kResultTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(count(memoryAlarms) >= 1, kResultTimeoutMs);
    QCOMPARE(value("SELECT data " + cpuAlarms + " ORDER BY id LIMIT 1").toString(),
             QStringLiteral("7"));
    QCOMPARE(value("SELECT data " + memoryAlarms + " ORDER BY id LIMIT 1").toString(),
             QStringLiteral("75"));
    QCOMPARE(
        count(QStringLiteral("FROM alarms WHERE alarm_id IN (22, 24) AND mid<>%1").arg(alphaId)),
        0);

    // The removal names the rule by its command; it needs no report, so its assignment is
    // done once fetched.
    const int removal =
        manager
            ->addJob({QStringLiteral("--cmd"), QStringLiteral("remove-rule"),
                      QStringLiteral("--prm"), QString::number(int(CommandType::CpuRule))},
                     {alphaId})
            .value(0);
    QVERIFY(removal > 0);
    QCOMPARE(manager->tool({QStringLiteral("job-check")}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(removal)).toInt(),
        1, kResultTimeoutMs);
    // A report already under way may still arrive; after that, memory alarms only.
    const int cpuAfterRemoval = count(cpuAlarms);
    const int memoryAfterRemoval = count(memoryAlarms);
    QTRY_VERIFY_WITH_TIMEOUT(count(memoryAlarms) >= memoryAfterRemoval + 4, kResultTimeoutMs);
    QVERIFY(count(cpuAlarms) <= cpuAfterRemoval + 1);
}

// A discovery of the loopback range wakes an agent nobody has registered yet; it registers,
// and as a new machine it takes the standing alarm rules and the new-machine job.
void TestIntegration::discoveryOfLoopback()
{
    QVERIFY(gamma->start(false));
    QTRY_VERIFY_WITH_TIMEOUT(gamma->output().contains("BlindPacket listening: 0.0.0.0:" +
                                                      QByteArray::number(gamma->udpPort())),
                             10000);
    QCOMPARE(gamma->machineId(), 0);
    QCOMPARE(count(QStringLiteral("FROM machines")), 2);

    // A job every newly registered machine runs, handed over without a blind packet.
    QVERIFY(manager
                ->addJob({QStringLiteral("--cmd"), QStringLiteral("command-line"),
                          QStringLiteral("--text"), QStringLiteral("echo first contact"),
                          QStringLiteral("--schedule"), QStringLiteral("new-machines")},
                         {})
                .isEmpty());
    QCOMPARE(manager->tool({QStringLiteral("add-discovery"), QStringLiteral("127.0.0.0"),
                            QStringLiteral("8"), QStringLiteral("--port"),
                            QString::number(gamma->udpPort())}),
             0);
    QCOMPARE(manager->tool({QStringLiteral("discover")}), 0);
    QVERIFY(browserHears(browser, QStringLiteral("DiscoveryExecute")));
    const int gammaId = gamma->waitForIdentity();
    QVERIFY2(gammaId > 0, gamma->output().constData());
    QVERIFY(gammaId != alphaId && gammaId != betaId);
    QTRY_COMPARE_WITH_TIMEOUT(
        count(QStringLiteral("FROM machines WHERE id=%1 AND status=1 AND port=%2")
                  .arg(gammaId)
                  .arg(gamma->udpPort())),
        1, 10000);
    QVERIFY(gamma->log().contains("Receiving blind packet"));
    QVERIFY(server->messages().contains(QStringLiteral("Get all Ip addresses from subnet")));

    // The standing rules (processor, memory, changes) and the new-machine job.
    QCOMPARE(count(QStringLiteral("FROM job_machines WHERE machine=%1").arg(gammaId)), 4);
    const int firstContact =
        value(QStringLiteral("SELECT jm.id FROM job_machines jm, jobs j WHERE jm.job=j.id AND "
                             "jm.machine=%1 AND j.scheduleType=8")
                  .arg(gammaId))
            .toInt();
    QCOMPARE(manager->waitForResult(firstContact, kResultTimeoutMs), 236);
    QCOMPARE(
        value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(firstContact))
            .toString(),
        QStringLiteral("first contact\n\n"));
    QCOMPARE(count(QStringLiteral("FROM job_machines WHERE machine<>%1 AND job=(SELECT job FROM "
                                  "job_machines WHERE id=%2)")
                       .arg(gammaId)
                       .arg(firstContact)),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(
        count(QStringLiteral("FROM alarms WHERE alarm_id=22 AND mid=%1").arg(gammaId)) >= 1,
        kResultTimeoutMs);
}

void TestIntegration::browsersShareWhatOneSends()
{
    BrowserClient second;
    QVERIFY(second.open(webSocketPort));
    browser.sendText("refresh all pages");
    QVERIFY(browserHears(browser, QStringLiteral("refresh all pages")));
    QVERIFY(browserHears(second, QStringLiteral("refresh all pages")));
}

// Ticks wake the agents that do not poll; one that has stopped is marked offline within two
// periods, the others stay online, and the stopped one comes back with its identity.
void TestIntegration::offlineMarkingOnObserverTicks()
{
    const int noticesBefore = manager->notices.size();
    QVERIFY(beta->stop());
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT status FROM machines WHERE id=%1").arg(betaId)).toInt(), 0,
        3 * kObserverPeriodMs + 5000);
    QVERIFY(manager->waitForNotice(CommandType::ObserverTick, noticesBefore));
    QVERIFY(manager->waitForNotice(CommandType::MachinesChanged, noticesBefore));
    QVERIFY(browserHears(browser, QStringLiteral("Machine")));
    // One more full period: the running agents answered their wake-ups.
    const int ticks = manager->notices.size();
    QVERIFY(manager->waitForNotice(CommandType::ObserverTick, ticks, 2 * kObserverPeriodMs));
    QCOMPARE(count(QStringLiteral("FROM machines WHERE status=1 AND id<>%1").arg(betaId)), 2);

    QVERIFY(beta->start(true));
    QTRY_COMPARE_WITH_TIMEOUT(
        value(QStringLiteral("SELECT status FROM machines WHERE id=%1").arg(betaId)).toInt(), 1,
        20000);
    QCOMPARE(beta->machineId(), betaId);
    QCOMPARE(count(QStringLiteral("FROM machines")), 3);
}

QTEST_GUILESS_MAIN(TestIntegration)
#include "tst_integration.moc"
