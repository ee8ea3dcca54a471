#include "command.h"
#include "integrationsystem.h"
#include "pgcluster.h"

#include <QtTest>
#include <memory>

// Watching the machines through the whole system: alarm rules reported by the agents'
// workers, discovery, offline marking on observer ticks and the browser pages' notices.
// Each case starts from empty tables with its own server and agents.
class TestIntegrationMonitoring : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void alarmRules();
    void discoveryOfLoopback();
    void offlineMarkingOnObserverTicks();
    void browsersShareWhatOneSends();

private:
    IntegrationSystem &sys() { return *system; }
    int status(int machineId)
    {
        return sys()
            .value(QStringLiteral("SELECT status FROM machines WHERE id=%1").arg(machineId))
            .toInt();
    }

    PgCluster pg;
    std::unique_ptr<IntegrationSystem> system;
};

void TestIntegrationMonitoring::initTestCase()
{
    registerCommandMetaType();
    KELVARIX_REQUIRE_PG(pg);
}

void TestIntegrationMonitoring::init()
{
    system = std::make_unique<IntegrationSystem>(pg);
    QVERIFY(system->start());
}

void TestIntegrationMonitoring::cleanup()
{
    system.reset();
}

// Rules given as jobs make the agent's worker report on its own connection; a removed rule
// stops reporting while the others go on. Only the machine with the rules reports.
void TestIntegrationMonitoring::alarmRules()
{
    AgentProcess &alpha = sys().addAgent();
    AgentProcess &beta = sys().addAgent();
    QVERIFY(sys().registerAgents({&alpha, &beta}));
    const int machine = alpha.machineId();
    ManagerSide &manager = sys().manager();
    // The fixture machine runs at 7 % processor and 75 % memory.
    QCOMPARE(manager
                 .addJob({QStringLiteral("--cmd"), QStringLiteral("cpu-rule"),
                          QStringLiteral("--prm2"), QStringLiteral("5")},
                         {machine})
                 .size(),
             1);
    QCOMPARE(manager
                 .addJob({QStringLiteral("--cmd"), QStringLiteral("memory-rule"),
                          QStringLiteral("--prm2"), QStringLiteral("50")},
                         {machine})
                 .size(),
             1);
    QCOMPARE(manager.tool({QStringLiteral("job-check")}), 0);

    const QString cpuAlarms =
        QStringLiteral("FROM alarms WHERE alarm_id=22 AND mid=%1").arg(machine);
    const QString memoryAlarms =
        QStringLiteral("FROM alarms WHERE alarm_id=24 AND mid=%1").arg(machine);
    QTRY_VERIFY_WITH_TIMEOUT(sys().count(cpuAlarms) >= 1, IntegrationSystem::kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(sys().count(memoryAlarms) >= 1, IntegrationSystem::kWaitMs);
    QCOMPARE(sys().value("SELECT data " + cpuAlarms + " ORDER BY id LIMIT 1").toString(),
             QStringLiteral("7"));
    QCOMPARE(sys().value("SELECT data " + memoryAlarms + " ORDER BY id LIMIT 1").toString(),
             QStringLiteral("75"));
    QCOMPARE(sys().count(QStringLiteral("FROM alarms WHERE mid<>%1").arg(machine)), 0);

    // The removal names the rule by its command; it needs no report, so its assignment is
    // done once fetched.
    const int removal =
        sys().runJob({QStringLiteral("--cmd"), QStringLiteral("remove-rule"),
                      QStringLiteral("--prm"), QString::number(int(CommandType::CpuRule))},
                     machine);
    QVERIFY(removal > 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        sys()
            .value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(removal))
            .toInt(),
        1, IntegrationSystem::kWaitMs);
    // A report already under way may still arrive; after that, memory alarms only.
    const int cpuAfterRemoval = sys().count(cpuAlarms);
    const int memoryAfterRemoval = sys().count(memoryAlarms);
    QTRY_VERIFY_WITH_TIMEOUT(sys().count(memoryAlarms) >= memoryAfterRemoval + 4,
                             IntegrationSystem::kWaitMs);
    QVERIFY(sys().count(cpuAlarms) <= cpuAfterRemoval + 1);
}

// A discovery of the loopback range wakes an agent nobody has registered yet; it registers,
// and as a new machine it takes the standing alarm rules and the new-machine job.
void TestIntegrationMonitoring::discoveryOfLoopback()
{
    AgentProcess &known = sys().addAgent();
    QVERIFY(sys().registerAgents({&known}));
    ManagerSide &manager = sys().manager();
    // A standing processor rule on the known machine, and a job every newly registered
    // machine runs, handed over without a blind packet.
    QCOMPARE(manager
                 .addJob({QStringLiteral("--cmd"), QStringLiteral("cpu-rule"),
                          QStringLiteral("--prm2"), QStringLiteral("5")},
                         {known.machineId()})
                 .size(),
             1);
    QVERIFY(manager
                .addJob({QStringLiteral("--cmd"), QStringLiteral("command-line"),
                         QStringLiteral("--text"), QStringLiteral("echo first contact"),
                         QStringLiteral("--schedule"), QStringLiteral("new-machines")},
                        {})
                .isEmpty());
    QCOMPARE(sys().count(QStringLiteral("FROM jobs")), 2);

    AgentProcess &found = sys().addAgent();
    QVERIFY(found.start(false));
    QTRY_VERIFY_WITH_TIMEOUT(found.output().contains("BlindPacket listening: 0.0.0.0:" +
                                                     QByteArray::number(found.udpPort())),
                             IntegrationSystem::kWaitMs);
    QCOMPARE(found.machineId(), 0);
    QCOMPARE(manager.tool({QStringLiteral("add-discovery"), QStringLiteral("127.0.0.0"),
                           QStringLiteral("8"), QStringLiteral("--port"),
                           QString::number(found.udpPort())}),
             0);
    QCOMPARE(manager.tool({QStringLiteral("discover")}), 0);
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("DiscoveryExecute")));
    const int foundId = found.waitForIdentity(IntegrationSystem::kWaitMs);
    QVERIFY2(foundId > 0, found.output().constData());
    QVERIFY(foundId != known.machineId());
    QTRY_COMPARE_WITH_TIMEOUT(
        sys().count(QStringLiteral("FROM machines WHERE id=%1 AND status=1 AND port=%2")
                        .arg(foundId)
                        .arg(found.udpPort())),
        1, IntegrationSystem::kWaitMs);
    QVERIFY(found.log().contains("Receiving blind packet"));
    QVERIFY(sys().server().messages().contains(QStringLiteral("Get all Ip addresses from subnet")));

    QCOMPARE(sys().count(QStringLiteral("FROM job_machines WHERE machine=%1").arg(foundId)), 2);
    const int firstContact =
        sys()
            .value(QStringLiteral("SELECT jm.id FROM job_machines jm, jobs j WHERE jm.job=j.id AND "
                                  "jm.machine=%1 AND j.scheduleType=8")
                       .arg(foundId))
            .toInt();
    QCOMPARE(manager.waitForResult(firstContact, IntegrationSystem::kWaitMs), 236);
    QCOMPARE(
        sys()
            .value(
                QStringLiteral("SELECT reportData FROM job_machines WHERE id=%1").arg(firstContact))
            .toString(),
        QStringLiteral("first contact\n\n"));
    // The new-machine job went to the new machine only.
    QCOMPARE(sys().count(QStringLiteral("FROM job_machines WHERE machine<>%1 AND job=(SELECT job "
                                        "FROM job_machines WHERE id=%2)")
                             .arg(foundId)
                             .arg(firstContact)),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(
        sys().count(QStringLiteral("FROM alarms WHERE alarm_id=22 AND mid=%1").arg(foundId)) >= 1,
        IntegrationSystem::kWaitMs);
}

// Ticks wake the agents that do not poll; one that has stopped is marked offline within two
// periods, the other stays online, and the stopped one comes back with its identity.
void TestIntegrationMonitoring::offlineMarkingOnObserverTicks()
{
    constexpr int kPeriod = IntegrationSystem::kObserverPeriodMs;
    AgentProcess &alpha = sys().addAgent();
    AgentProcess &beta = sys().addAgent();
    QVERIFY(sys().registerAgents({&alpha, &beta}));
    const int betaId = beta.machineId();
    ManagerSide &manager = sys().manager();
    const int noticesBefore = manager.notices.size();
    QVERIFY(beta.stop());
    QTRY_COMPARE_WITH_TIMEOUT(status(betaId), 0, 3 * kPeriod + IntegrationSystem::kWaitMs);
    QVERIFY(manager.waitForNotice(CommandType::ObserverTick, noticesBefore));
    QVERIFY(manager.waitForNotice(CommandType::MachinesChanged, noticesBefore));
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("Machine")));
    // One more full period: the running agent answered its wake-ups.
    const int ticks = manager.notices.size();
    QVERIFY(manager.waitForNotice(CommandType::ObserverTick, ticks,
                                  2 * kPeriod + IntegrationSystem::kWaitMs));
    QCOMPARE(status(alpha.machineId()), 1);

    QVERIFY(beta.start(true));
    QTRY_COMPARE_WITH_TIMEOUT(status(betaId), 1, IntegrationSystem::kWaitMs);
    QCOMPARE(beta.machineId(), betaId);
    QCOMPARE(sys().count(QStringLiteral("FROM machines")), 2);
}

// What one page sends reaches every page, the sender included.
void TestIntegrationMonitoring::browsersShareWhatOneSends()
{
    BrowserClient second;
    QVERIFY(second.open(sys().webSocketPort()));
    sys().browser().sendText("refresh all pages");
    QVERIFY(IntegrationSystem::hears(sys().browser(), QStringLiteral("refresh all pages")));
    QVERIFY(IntegrationSystem::hears(second, QStringLiteral("refresh all pages")));
}

QTEST_GUILESS_MAIN(TestIntegrationMonitoring)
#include "tst_integration_monitoring.moc"
