#include "agenttestutil.h"
#include "command.h"
#include "integrationsystem.h"
#include "pgcluster.h"
#include "zipwriter.h"

#include <QDir>
#include <QtTest>
#include <memory>

// Jobs through the whole system: the server program, agent services with fixture probes, the
// manager tool and a browser page, against PostgreSQL. Each case starts from empty tables
// with its own server and agents.
class TestIntegrationJobs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void registration();
    void commandLineThroughBlindPackets();
    void inventory();
    void deploymentAndRemoval();

private:
    IntegrationSystem &sys() { return *system; }

    PgCluster pg;
    std::unique_ptr<IntegrationSystem> system;
};

void TestIntegrationJobs::initTestCase()
{
    registerCommandMetaType();
    KELVARIX_REQUIRE_PG(pg);
}

void TestIntegrationJobs::init()
{
    system = std::make_unique<IntegrationSystem>(pg);
    QVERIFY(system->start());
}

void TestIntegrationJobs::cleanup()
{
    system.reset();
}

// Each agent service registers at start-up as its own machine, reachable on its own port;
// the manager and the page hear of it.
void TestIntegrationJobs::registration()
{
    AgentProcess &alpha = sys().addAgent();
    AgentProcess &beta = sys().addAgent();
    QVERIFY(sys().registerAgents({&alpha, &beta}));
    QVERIFY(alpha.machineId() != beta.machineId());
    for (AgentProcess *agent : {&alpha, &beta}) {
        QCOMPARE(sys().count(QStringLiteral("FROM machines WHERE id=%1 AND peerip='127.0.0.1' "
                                            "AND port=%2 AND agentType=1 AND uuid=id")
                                 .arg(agent->machineId())
                                 .arg(agent->udpPort())),
                 1);
        // What an administrator's script waits on before it assigns jobs.
        QString waited;
        QCOMPARE(sys().manager().tool({QStringLiteral("wait-machine"), QStringLiteral("--port"),
                                       QString::number(agent->udpPort()),
                                       QStringLiteral("--timeout"), QStringLiteral("30")},
                                      &waited),
                 0);
        QCOMPARE(waited.trimmed().toInt(), agent->machineId());
        QVERIFY(
            sys()
                .value(
                    QStringLiteral("SELECT name FROM machines WHERE id=%1").arg(agent->machineId()))
                .toString()
                .endsWith(QLatin1Char('-') + QString::number(agent->udpPort())));
    }
    QCOMPARE(sys().count(QStringLiteral("FROM machines")), 2);
    // The manager heard of the new machines and of the agents' identity reports, without
    // payloads; the page was told to refresh its machine list.
    ManagerSide &manager = sys().manager();
    QVERIFY(manager.waitForNotice(CommandType::MachinesChanged, 0));
    QVERIFY(manager.waitForNotice(CommandType::Identity, 0));
    for (const Command &notice : qAsConst(manager.notices))
        QVERIFY(notice.payload.isEmpty());
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("Machine")));
}

// One job for two machines: the job check request wakes each agent with a blind packet to
// its own port (neither polls), and each result lands in its own assignment.
void TestIntegrationJobs::commandLineThroughBlindPackets()
{
    AgentProcess &alpha = sys().addAgent();
    AgentProcess &beta = sys().addAgent();
    QVERIFY(sys().registerAgents({&alpha, &beta}));
    ManagerSide &manager = sys().manager();
    const int noticesBefore = manager.notices.size();
    const QList<int> assignments =
        manager.addJob({QStringLiteral("--cmd"), QStringLiteral("command-line"),
                        QStringLiteral("--text"), QStringLiteral("echo hello")},
                       {alpha.machineId(), beta.machineId()});
    QVERIFY(assignments.size() == 2 && !assignments.contains(0));
    QCOMPARE(manager.tool({QStringLiteral("job-check")}), 0);

    for (int assignment : assignments) {
        QCOMPARE(manager.waitForResult(assignment, IntegrationSystem::kWaitMs), 236);
        QCOMPARE(sys()
                     .value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1")
                                .arg(assignment))
                     .toString(),
                 QStringLiteral("hello\n\n"));
    }
    for (AgentProcess *agent : {&alpha, &beta}) {
        const QByteArray log = agent->log();
        QVERIFY2(log.contains("Receiving blind packet"), log.constData());
        QVERIFY(log.contains("Command Line Execution: echo hello"));
    }
    QVERIFY(manager.waitForNotice(CommandType::JobResult, noticesBefore));
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("JobStateChanged")));
}

// A full inventory of the fixture machine is stored for the machine that ran it only; the
// manager hears of it without the document.
void TestIntegrationJobs::inventory()
{
    AgentProcess &alpha = sys().addAgent();
    AgentProcess &beta = sys().addAgent();
    QVERIFY(sys().registerAgents({&alpha, &beta}));
    ManagerSide &manager = sys().manager();
    const int noticesBefore = manager.notices.size();
    const int assignment =
        sys().runJob({QStringLiteral("--cmd"), QStringLiteral("inventory")}, alpha.machineId());
    QVERIFY(assignment > 0);
    QCOMPARE(manager.waitForResult(assignment, IntegrationSystem::kWaitMs), 236);

    const QString alphaRows = QStringLiteral(" WHERE mid=%1").arg(alpha.machineId());
    QCOMPARE(sys().value("SELECT OS_Caption FROM os_details" + alphaRows).toString(),
             QStringLiteral("Microsoft Windows 7 Professional"));
    QCOMPARE(sys().count("FROM os_details" + alphaRows), 1);
    QCOMPARE(sys().count("FROM memories" + alphaRows), 2);
    QCOMPARE(sys().count("FROM monitorings" + alphaRows), 1);
    QCOMPARE(sys().count(QStringLiteral("FROM os_details WHERE mid=%1").arg(beta.machineId())), 0);
    QVERIFY(manager.waitForNotice(CommandType::InventoryResult, noticesBefore));
    for (int i = noticesBefore; i < manager.notices.size(); ++i)
        QVERIFY(manager.notices.at(i).payload.isEmpty());
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("JobStateChanged")));
}

// An installer uploaded through the manager port is deployed to a machine and removed from
// it again, which its changes rule reports; deleting the application takes its installer
// and every job that refers to it.
void TestIntegrationJobs::deploymentAndRemoval()
{
    constexpr int kApplicationId = 7;
    AgentProcess &agent = sys().addAgent();
    // The software list names an uninstaller kept beside the agent, which records its
    // arguments and takes the package off the list, as a real removal would.
    const QString uninstaller = agent.filePath(QStringLiteral("uninst.sh"));
    const QByteArray registry = agent.filePath(QStringLiteral("registry.json")).toUtf8();
    QVERIFY(writeTextFile(uninstaller, "#!/bin/sh\necho \"$@\" > '" +
                                           agent.filePath(QStringLiteral("removed")).toUtf8() +
                                           "'\necho '{\"uninstall\": [], \"run\": {}}' > '" +
                                           registry + "'\n"));
    QVERIFY(
        QFile::setPermissions(uninstaller, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(agent.setRegistry(R"({"uninstall": [{"key": "tools", "DisplayName": "Tool Suite 2.0",
        "DisplayVersion": "2.0", "UninstallString": ")" +
                              uninstaller.toUtf8() + R"( --purge"}], "run": {}})"));
    QVERIFY(sys().registerAgents({&agent}));
    const int machine = agent.machineId();
    ManagerSide &manager = sys().manager();

    // The agent watches its software list from the moment the rule reaches it.
    QVERIFY(sys().runJob({QStringLiteral("--cmd"), QStringLiteral("changes-rule")}, machine) > 0);
    QTRY_VERIFY_WITH_TIMEOUT(agent.output().contains("changes rule: starting point taken"),
                             IntegrationSystem::kWaitMs);

    const QString application = QString::number(kApplicationId);
    QCOMPARE(manager.tool({QStringLiteral("add-application"), QStringLiteral("--id"), application,
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
    const int early = sys().runJob(deploy, machine);
    QVERIFY(early > 0);
    QCOMPARE(manager.waitForResult(early, IntegrationSystem::kWaitMs), 238);
    QVERIFY(sys().server().waitForMessage(QStringLiteral("Could not find installer in path: ") +
                                          sys().serverFilePath(QStringLiteral("kelvarix/upload"))));
    QVERIFY(!QFileInfo::exists(agent.filePath(QStringLiteral("upload"))));

    const QString packagePath = sys().serverFilePath(QStringLiteral("source.zip"));
    ZipWriter zip;
    zip.add(QStringLiteral("setup.sh"), "#!/bin/sh\necho \"installed $*\"\n", 0755);
    QVERIFY(zip.write(packagePath));
    const QByteArray package = readTextFile(packagePath);
    const QString stored = sys().serverFilePath(QStringLiteral("upload/Tool Suite/tool.zip"));
    QCOMPARE(manager.tool({QStringLiteral("upload"), application, packagePath}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(readTextFile(stored), package, IntegrationSystem::kWaitMs);

    // Deployment with value 1: the agent waits for the program and reports its output.
    const int deployment = sys().runJob(deploy, machine);
    QVERIFY(deployment > 0);
    QCOMPARE(manager.waitForResult(deployment, IntegrationSystem::kWaitMs), 236);
    QCOMPARE(
        sys()
            .value(
                QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(deployment))
            .toString(),
        QStringLiteral("installed --quiet\n\n"));
    const QDir upload(agent.filePath(QStringLiteral("upload")));
    const QStringList fresh = upload.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(fresh.size(), 1);
    QCOMPARE(readTextFile(upload.filePath(fresh[0] + QStringLiteral("/tool.zip"))), package);
    QVERIFY(QFile::exists(upload.filePath(fresh[0] + QStringLiteral("/setup.sh"))));

    // Removal by the application's name through the agent's software list.
    const int removal =
        sys().runJob({QStringLiteral("--cmd"), QStringLiteral("undeploy-with-switches"),
                      QStringLiteral("--application"), application},
                     machine);
    QVERIFY(removal > 0);
    QCOMPARE(manager.waitForResult(removal, IntegrationSystem::kWaitMs), 236);
    QCOMPARE(
        sys()
            .value(QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(removal))
            .toString(),
        uninstaller + QStringLiteral(" --purge -q"));
    QTRY_COMPARE_WITH_TIMEOUT(readTextFile(agent.filePath(QStringLiteral("removed"))),
                              QByteArray("--purge -q\n"), IntegrationSystem::kWaitMs);
    // The changes rule reports the package gone from the software list.
    QTRY_COMPARE_WITH_TIMEOUT(
        sys()
            .value(
                QStringLiteral("SELECT data FROM alarms WHERE alarm_id=29 AND mid=%1").arg(machine))
            .toString(),
        QStringLiteral("Tool Suite 2.0--2.0"), IntegrationSystem::kWaitMs);

    const int noticesBefore = manager.notices.size();
    const QString jobsOfApplication = QStringLiteral("FROM jobs WHERE prm2=%1").arg(kApplicationId);
    QCOMPARE(sys().count(jobsOfApplication), 3);
    QCOMPARE(manager.tool({QStringLiteral("delete-application"), application}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(sys().count(jobsOfApplication), 0, IntegrationSystem::kWaitMs);
    QCOMPARE(sys().count(QStringLiteral("FROM applications")), 0);
    QCOMPARE(
        sys().count(
            QStringLiteral("FROM job_machines WHERE id IN (%1, %2)").arg(deployment).arg(removal)),
        0);
    QVERIFY(!QFileInfo::exists(sys().serverFilePath(QStringLiteral("upload/Tool Suite"))));
    QVERIFY(manager.waitForNotice(CommandType::MachinesChanged, noticesBefore));
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("Machine")));
}

QTEST_GUILESS_MAIN(TestIntegrationJobs)
#include "tst_integration_jobs.moc"
