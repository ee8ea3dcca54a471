#include "agentserver.h"
#include "browserclient.h"
#include "masterserver.h"
#include "pgcluster.h"
#include "serverharness.h"

#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>
#include <memory>

namespace
{

const QString kLocalhost = QStringLiteral("127.0.0.1");

bool bindLoopback(QUdpSocket &socket, int port = 0)
{
    return socket.bind(QHostAddress(QHostAddress::LocalHost), quint16(port));
}

} // namespace

class TestObserver : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void startupMarksEveryMachineOffline();
    void agentPresenceOverTicks();
    void managerPresenceOverTicks_data();
    void managerPresenceOverTicks();
    void tickForgetsPendingThenChecksJobs();
    void notices_data();
    void notices();
    void browsersShareWhatOneSends();
    void discoveryWakesLoopbackRanges();

private:
    bool sql(const QString &statement) { return pg.execAsSuperUser(statement); }
    static QList<int> statuses()
    {
        return ServerHarness::column(QStringLiteral("SELECT status FROM machines ORDER BY id"));
    }
    PgCluster pg;
};

void TestObserver::initTestCase()
{
    KELVARIX_REQUIRE_PG(pg);
}

void TestObserver::init()
{
    QVERIFY2(sql(QStringLiteral("TRUNCATE users, machines, jobs, job_machines, job_groups, "
                                "applications, discoveries RESTART IDENTITY")),
             qPrintable(pg.errorText()));
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (1, 'admin')")));
}

void TestObserver::startupMarksEveryMachineOffline()
{
    // Listeners: a machine's own port, the configured agent port for port 0, a machine that
    // does not listen, and one more listening machine after it in row order.
    QUdpSocket own, defaultPort, silent, last;
    QVERIFY(bindLoopback(own) && bindLoopback(defaultPort) && bindLoopback(silent) &&
            bindLoopback(last));
    QVERIFY(sql(QStringLiteral("INSERT INTO machines (id, name, peerip, port, agentType, status) "
                               "VALUES (1, 'pc1', '127.0.0.1', %1, 1, 1), "
                               "(2, 'pc2', '127.0.0.1', 0, 1, 1), "
                               "(3, 'pc3', '127.0.0.1', %2, 0, 1), "
                               "(4, 'pc4', '127.0.0.1', %3, 2, 1)")
                    .arg(own.localPort())
                    .arg(silent.localPort())
                    .arg(last.localPort())));

    ServerHarness harness(pg);
    QVERIFY(harness.start({QStringLiteral("AgentPort=%1").arg(defaultPort.localPort())}));
    QCOMPARE(statuses(), (QList<int>{0, 0, 0, 0}));
    QVERIFY(harness.server()->onlineMachines().isEmpty());

    QSet<quint16> senderPorts;
    for (QUdpSocket *socket : {&own, &defaultPort, &last}) {
        Command packet;
        quint16 senderPort = 0;
        QVERIFY(ServerHarness::takeDatagram(*socket, &packet, &senderPort));
        QCOMPARE(int(packet.type), int(CommandType::BlindPacket));
        QCOMPARE(packet.agentId, 1);
        QCOMPARE(packet.reference, 0);
        QCOMPARE(packet.payload, QStringLiteral("BPacket"));
        QVERIFY(!socket->hasPendingDatagrams());
        senderPorts.insert(senderPort);
    }
    // Sent in row order in one pass: the last machine has its packet, pc3 never gets one.
    QVERIFY(!silent.hasPendingDatagrams());
    QCOMPARE(senderPorts.size(), 1);
}

void TestObserver::agentPresenceOverTicks()
{
    QVERIFY(sql(QStringLiteral("INSERT INTO machines (id, name, peerip, uuid, status) VALUES "
                               "(1, 'pc1', '127.0.0.1', 1, 0), (2, 'pc2', '127.0.0.1', 2, 0), "
                               "(3, 'pc3', '127.0.0.1', 3, 0)")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QUdpSocket manager;
    QVERIFY(bindLoopback(manager, harness.managerPort()));
    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    Command notice;

    // Each machine that comes online is announced once.
    QVERIFY(harness.agentHello(1, QStringLiteral("pc1")));
    QVERIFY(ServerHarness::takeDatagram(manager, &notice));
    QCOMPARE(int(notice.type), int(CommandType::MachinesChanged));
    QVERIFY(harness.agentHello(2, QStringLiteral("pc2")));
    QVERIFY(ServerHarness::takeDatagram(manager, &notice));
    QCOMPARE(int(notice.type), int(CommandType::MachinesChanged));
    QVERIFY(harness.agentHello(3, QStringLiteral("pc3")));
    QVERIFY(ServerHarness::takeDatagram(manager, &notice));
    QCOMPARE(int(notice.type), int(CommandType::MachinesChanged));
    QCOMPARE(statuses(), (QList<int>{1, 1, 1}));

    const QList<int> tickOnly{CommandType::ObserverTick};
    const QList<int> offlineAndTick{CommandType::MachinesChanged, CommandType::ObserverTick};

    harness.tick();
    QCOMPARE(ServerHarness::typesUntilTick(manager), tickOnly);
    QCOMPARE(statuses(), (QList<int>{1, 1, 1}));

    // pc1 keeps polling, pc2 and pc3 have stopped: one notice for both.
    QVERIFY(harness.agentHello(1, QStringLiteral("pc1")));
    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    harness.tick();
    QCOMPARE(ServerHarness::typesUntilTick(manager), offlineAndTick);
    QCOMPARE(statuses(), (QList<int>{1, 0, 0}));
    QCOMPARE(harness.server()->onlineMachines(), QList<int>{1});

    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    harness.tick();
    QCOMPARE(ServerHarness::typesUntilTick(manager), offlineAndTick);
    QCOMPARE(statuses(), (QList<int>{0, 0, 0}));

    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    harness.tick();
    QCOMPARE(ServerHarness::typesUntilTick(manager), tickOnly);

    // Back online: announced again.
    QVERIFY(harness.agentHello(2, QStringLiteral("pc2")));
    QVERIFY(ServerHarness::takeDatagram(manager, &notice));
    QCOMPARE(int(notice.type), int(CommandType::MachinesChanged));
    QCOMPARE(statuses(), (QList<int>{0, 1, 0}));
}

void TestObserver::managerPresenceOverTicks_data()
{
    QTest::addColumn<bool>("renew");
    QTest::addRow("request once") << false;
    QTest::addRow("request every period") << true;
}

void TestObserver::managerPresenceOverTicks()
{
    QFETCH(bool, renew);
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QUdpSocket manager;
    QVERIFY(bindLoopback(manager, harness.managerPort()));
    QSignalSpy connections(harness.server(), &MasterServer::writeConnectionsLog);
    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    QCOMPARE(harness.server()->managers(), QStringList{kLocalhost});

    harness.tick();
    QCOMPARE(harness.server()->managers(), QStringList{kLocalhost});
    QCOMPARE(ServerHarness::typesUntilTick(manager), QList<int>{CommandType::ObserverTick});
    // The window's table is emptied, then the manager listed again.
    QCOMPARE(connections.at(1), (QVariantList{QString(), 0, true}));
    QCOMPARE(connections.at(2), (QVariantList{kLocalhost, 0, false}));

    if (renew)
        QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    harness.tick();
    QCOMPARE(harness.server()->managers(), renew ? QStringList{kLocalhost} : QStringList());
    if (renew) {
        QCOMPARE(ServerHarness::typesUntilTick(manager), QList<int>{CommandType::ObserverTick});
    } else {
        harness.tick();
        QVERIFY(harness.server()->managers().isEmpty());
        QVERIFY(!manager.hasPendingDatagrams());
    }
}

void TestObserver::tickForgetsPendingThenChecksJobs()
{
    QUdpSocket agent;
    QVERIFY(bindLoopback(agent));
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (7, 'other')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO machines (id, name, peerip, port) VALUES "
                               "(1, 'pc1', '127.0.0.1', %1), (2, 'pc2', '127.0.0.1', %1)")
                    .arg(agent.localPort())));
    // An immediate job for an offline machine, and a new-machine job of administrator 7.
    QVERIFY(sql(QStringLiteral("INSERT INTO jobs (id, creator, cmd, prm3, scheduleType) VALUES "
                               "(1, 1, 4, 'hostname', 5), (2, 7, 4, 'hostname', 8)")));
    QVERIFY(sql(QStringLiteral("INSERT INTO job_machines (id, creator, machine, job, active) "
                               "VALUES (21, 1, 1, 1, 0), (22, 7, 2, 2, 0)")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QUdpSocket manager;
    QVERIFY(bindLoopback(manager, harness.managerPort()));
    BrowserClient browser;
    QVERIFY(browser.open(harness.webSocketPort()));
    QTRY_COMPARE(harness.server()->webClientCount(), 1);

    QVERIFY(harness.managerRequest(CommandType::Hello, 7));
    Command packet;
    QVERIFY(ServerHarness::takeDatagram(agent, &packet));
    QCOMPARE(packet.reference, 22);
    QCOMPARE(harness.server()->agentListener()->pendingJobList().size(), 1);
    // Fetched elsewhere in the meantime: the tick must not keep it pending.
    QVERIFY(sql(QStringLiteral("UPDATE job_machines SET active=1 WHERE id=22")));

    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 7));
    QSignalSpy connections(harness.server(), &MasterServer::writeConnectionsLog);
    harness.tick();
    QCOMPARE(ServerHarness::typesUntilTick(manager),
             (QList<int>{CommandType::JobResult, CommandType::ObserverTick}));
    QVERIFY(harness.server()->agentListener()->pendingJobList().isEmpty());
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT status FROM job_machines WHERE id=21")),
             QList<int>{251});
    QCOMPARE(browser.takeText(), QStringLiteral("JobStateChanged"));
    QCOMPARE(connections.first(), (QVariantList{QString(), 0, true}));
    QVERIFY(!agent.hasPendingDatagrams());
}

void TestObserver::notices_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("browserText");
    QTest::addRow("7 machines changed") << int(CommandType::MachinesChanged) << "Machine";
    QTest::addRow("14 job result") << int(CommandType::JobResult) << "JobStateChanged";
    QTest::addRow("15 inventory result") << int(CommandType::InventoryResult) << "JobStateChanged";
    QTest::addRow("17 tick") << int(CommandType::ObserverTick) << "";
    QTest::addRow("8 identity report") << int(CommandType::Identity) << "";
}

void TestObserver::notices()
{
    QFETCH(int, type);
    QFETCH(QString, browserText);
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QUdpSocket manager;
    QVERIFY(bindLoopback(manager, harness.managerPort()));
    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));
    BrowserClient browser;
    QVERIFY(browser.open(harness.webSocketPort()));
    QTRY_COMPARE(harness.server()->webClientCount(), 1);

    Command notice;
    initCommand(notice, 42, quint8(type), 17);
    harness.server()->informAdmins(&notice);
    Command received;
    QVERIFY(ServerHarness::takeDatagram(manager, &received));
    QCOMPARE(int(received.type), type);
    QCOMPARE(received.agentId, 42);
    QCOMPARE(received.reference, 17);

    // The browser's next text tells whether this notice produced one.
    harness.server()->refreshAgentListOnManager();
    if (!browserText.isEmpty())
        QCOMPARE(browser.takeText(), browserText);
    QCOMPARE(browser.takeText(), QStringLiteral("Machine"));
    QVERIFY(browser.received.size() == (browserText.isEmpty() ? 1 : 2));
}

void TestObserver::browsersShareWhatOneSends()
{
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    auto first = std::make_unique<BrowserClient>();
    BrowserClient second;
    QVERIFY(first->open(harness.webSocketPort()));
    QVERIFY(second.open(harness.webSocketPort()));
    QTRY_COMPARE(harness.server()->webClientCount(), 2);
    QVERIFY(harness.waitForMessage(QStringLiteral("Web client connected from: 127.0.0.1"), 2));

    first->sendText("refresh machines");
    QCOMPARE(first->takeText(), QStringLiteral("refresh machines"));
    QCOMPARE(second.takeText(), QStringLiteral("refresh machines"));
    second.sendText(QByteArray("caf\xc3\xa9"));
    QCOMPARE(first->takeText(), QStringLiteral("caf\u00e9"));
    QCOMPARE(second.takeText(), QStringLiteral("caf\u00e9"));

    first->abort();
    QTRY_COMPARE(harness.server()->webClientCount(), 1);
    QVERIFY(harness.waitForMessage(QStringLiteral("Client disconnected")));
    first.reset();
    harness.server()->refreshAgentListOnManager();
    QCOMPARE(second.takeText(), QStringLiteral("Machine"));
}

void TestObserver::discoveryWakesLoopbackRanges()
{
    QUdpSocket ownPort, defaultPort, unused;
    QVERIFY(bindLoopback(ownPort) && bindLoopback(defaultPort) && bindLoopback(unused));
    // Only loopback ranges send; the others are ranges that give no address at all.
    QVERIFY(sql(QStringLiteral("INSERT INTO discoveries (id, net_ip, mask, port) VALUES "
                               "(1, '127.0.0.5', '24', %1), (2, '127.0.0.0', 'x', 0), "
                               "(3, '10.0.0.0', '8', %2), (4, '10.0.0.8', '31', %2), "
                               "(5, '10.0.0.300', '24', %2)")
                    .arg(ownPort.localPort())
                    .arg(unused.localPort())));
    ServerHarness harness(pg);
    QVERIFY(harness.start({QStringLiteral("AgentPort=%1").arg(defaultPort.localPort())}));
    BrowserClient browser;
    QVERIFY(browser.open(harness.webSocketPort()));
    QTRY_COMPARE(harness.server()->webClientCount(), 1);

    QVERIFY(harness.managerRequest(CommandType::Identity, 1));
    Command packet;
    QVERIFY(ServerHarness::takeDatagram(ownPort, &packet));
    QCOMPARE(int(packet.type), int(CommandType::BlindPacket));
    QCOMPARE(packet.reference, 1);
    QVERIFY(ServerHarness::takeDatagram(defaultPort, &packet));
    QCOMPARE(packet.reference, 2);
    QCOMPARE(browser.takeText(), QStringLiteral("DiscoveryExecute"));
    QVERIFY(!ownPort.hasPendingDatagrams());
    QVERIFY(!defaultPort.hasPendingDatagrams());
    QVERIFY(!unused.hasPendingDatagrams());

    const QStringList &log = harness.messages;
    QCOMPARE(log.count(QStringLiteral("Get all Ip addresses from subnet")), 5);
    QVERIFY(log.contains(QStringLiteral("No address to scan in discovery range 10.0.0.0/8")));
    QVERIFY(log.contains(QStringLiteral("No address to scan in discovery range 10.0.0.8/31")));
    QVERIFY(log.indexOf(QStringLiteral("Send refresh message to web based managers")) >
            log.lastIndexOf(QStringLiteral("Get all Ip addresses from subnet")));
    QCOMPARE(harness.server()->managers(), QStringList{kLocalhost});
}

QTEST_GUILESS_MAIN(TestObserver)
#include "tst_observer.moc"
