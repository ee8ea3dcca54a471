#include "agent.h"
#include "agenttestutil.h"
#include "receiver.h"
#include "serversender.h"
#include "testagentserver.h"
#include "worker.h"

#include <QHostInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The agent's exchanges with a loopback server that answers as each test tells it.
class TestServerSender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void request_data();
    void request();
    void firstContactDrains_data();
    void firstContactDrains();
    void restartKeepsIdentity();
    void unhandledResponse_data();
    void unhandledResponse();
    void alarmRuleForwarded();
    void noAddressFailsAndIsReleased();
    void silentServerIsLeft();
    void manualDisconnect();
    void pollingTicks();
    void exchangesAreReleased();

private:
    Agent *startAgent(const QByteArray &extraIni);

    QTemporaryDir workDir;
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<TestAgentServer> server;
    QScopedPointer<Agent> agent;
    QStringList agentLog;
};

void TestServerSender::initTestCase()
{
    registerCommandMetaType();
    // Files received with responses land below the working directory.
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void TestServerSender::init()
{
    dir.reset(new QTemporaryDir);
    server.reset(new TestAgentServer);
    QVERIFY(server->start());
    agentLog.clear();
}

void TestServerSender::cleanup()
{
    agent.reset();
    QTRY_COMPARE(Sender::liveCount(), 0);
    // The server's connection objects point at it; they go first.
    QTRY_COMPARE(Receiver::liveCount(), 0);
    server.reset();
    ServerSender::setTimeouts(0, 0);
}

Agent *TestServerSender::startAgent(const QByteArray &extraIni)
{
    const QByteArray ini =
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(server->serverPort()) +
        '\n' + extraIni;
    writeTextFile(dir->filePath(QStringLiteral("Agent.ini")), ini);
    agent.reset(new Agent(true, dir->path()));
    connect(agent.data(), &Agent::writeUiLogSignal, this, [this](const QString &line) {
        agentLog << line.mid(line.indexOf(" - ") + 3).trimmed();
    });
    agent->startUp();
    return agent.data();
}

void TestServerSender::request_data()
{
    QTest::addColumn<int>("agentPort");
    QTest::addColumn<bool>("noPolling");
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("flag");
    const QString host = QHostInfo::localHostName();
    QTest::addRow("listening on the default port")
        << 6722 << true << QString() << 12 << host << 6722 << 1;
    QTest::addRow("polling on port 7000")
        << 7000 << false << QString() << 12 << QString(host + "-7000") << 7000 << 0;
    QTest::addRow("alarm document") << 0 << false << "<document/>" << 32 << "<document/>" << 0 << 0;
}

void TestServerSender::request()
{
    QFETCH(int, agentPort);
    QFETCH(bool, noPolling);
    QFETCH(QString, document);
    QFETCH(int, type);
    QFETCH(QString, payload);
    QFETCH(int, value);
    QFETCH(int, flag);
    new ServerSender(77, QStringLiteral("127.0.0.1"), server->serverPort(), document, agentPort,
                     noPolling, nullptr);
    QTRY_COMPARE(server->requests.size(), 1);
    const Command hello = server->requests[0];
    QCOMPARE(int(hello.type), type);
    QCOMPARE(hello.agentId, 77);
    QCOMPARE(hello.payload, payload);
    QCOMPARE(hello.payloadLength, payload.size());
    QCOMPARE(int(hello.value), value);
    QCOMPARE(int(hello.flag), flag);
}

// Without Agent.key: identity assigned, acknowledged, then the agent drains its jobs with the
// new identity until a response is not understood.
void TestServerSender::firstContactDrains_data()
{
    QTest::addColumn<int>("identityType");
    QTest::addRow("identity") << 8;
    QTest::addRow("discovery") << 16;
}

void TestServerSender::firstContactDrains()
{
    QFETCH(int, identityType);
    server->policy = [&](const Command &, int index) {
        if (index == 0)
            return TestAgentServer::respond(quint8(identityType), 42);
        if (index == 1)
            return TestAgentServer::respond(CommandType::MachinesChanged, 42);
        return TestAgentServer::close();
    };
    const quint16 udp = freeUdpPort();
    startAgent("PollServer=0\nNegotiateOnStartup=1\nAgentPort=" + QByteArray::number(udp) + '\n');
    QTRY_COMPARE(server->requests.size(), 3);
    QTRY_COMPARE(Sender::liveCount(), 0);
    QCOMPARE(server->requests.size(), 3);

    QCOMPARE(server->requests[0].agentId, 0);
    QCOMPARE(server->requests[1].agentId, 42);
    QCOMPARE(server->requests[2].agentId, 42);
    for (const Command &hello : server->requests) {
        QCOMPARE(int(hello.type), 12);
        QCOMPARE(int(hello.flag), 1);
        QCOMPARE(int(hello.value), int(udp));
    }
    QCOMPARE(server->reports.size(), 2);
    QCOMPARE(int(server->reports[0].type), identityType);
    QCOMPARE(int(server->reports[0].value), 236);
    QCOMPARE(server->reports[0].payloadLength, 0);
    QCOMPARE(int(server->reports[1].type), 14);
    QCOMPARE(int(server->reports[1].value), 239);

    QCOMPARE(readTextFile(dir->filePath(QStringLiteral("Agent.key"))),
             QByteArray("[Client]\nUUID=42"));
    QCOMPARE(agent->uuid, 42u);
    QVERIFY(!agent->keyJustWritten);
    // Alarm reports carry the new identity too, not the one the agent started with.
    quint32 workerUuid = 0;
    QMetaObject::invokeMethod(
        agent->worker, [&] { workerUuid = agent->worker->uuid; }, Qt::BlockingQueuedConnection);
    QCOMPARE(workerUuid, 42u);
    QVERIFY(agentLog.contains(QStringLiteral("Discovery CMD")));
    QVERIFY(agentLog.contains(QStringLiteral("Keyfile writing ... OK")));
    QCOMPARE(agentLog.count(QStringLiteral("Send report to: 127.0.0.1")), 2);
}

void TestServerSender::restartKeepsIdentity()
{
    writeTextFile(dir->filePath(QStringLiteral("Agent.key")), "[Client]\nUUID=42");
    startAgent("PollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n");
    QTRY_COMPARE(server->requests.size(), 1);
    QCOMPARE(server->requests[0].agentId, 42);
    QCOMPARE(int(server->requests[0].flag), 0);
    QTRY_COMPARE(Sender::liveCount(), 0);
    QVERIFY(agentLog.contains(QStringLiteral("Client UUID: 42")));
}

// Responses that are no job of this agent are answered with 239, and the agent closes.
void TestServerSender::unhandledResponse_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("withFile");
    QTest::addRow("machines changed") << 7 << false;
    QTest::addRow("file upload") << 5 << true;
    QTest::addRow("unknown code") << 99 << false;
}

void TestServerSender::unhandledResponse()
{
    QFETCH(int, type);
    QFETCH(bool, withFile);
    const QString file = dir->filePath(QStringLiteral("package.zip"));
    writeTextFile(file, QByteArray(150000, 'p'));
    server->policy = [&](const Command &, int) {
        TestAgentServer::Answer a = TestAgentServer::respond(quint8(type), 0, true);
        setCommandText(a.response, QStringLiteral("setup.zip<SPLITAG>setup.exe<SPLITAG>"));
        if (withFile)
            a.file = file;
        return a;
    };
    startAgent("PollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n");
    QTRY_COMPARE(server->closedByAgent, 1);
    QCOMPARE(server->reports.size(), 1);
    QCOMPARE(int(server->reports[0].type), 14);
    QCOMPARE(int(server->reports[0].value), 239);
    QTRY_COMPARE(Sender::liveCount(), 0);
    // A response that was not understood asks for no further contact.
    QCOMPARE(server->requests.size(), 1);
}

void TestServerSender::alarmRuleForwarded()
{
    ServerSender::setTimeouts(0, 200);
    server->policy = [](const Command &, int) {
        TestAgentServer::Answer a = TestAgentServer::respond(CommandType::CpuRule, 0, true);
        a.response.value = 22;
        a.response.flag = 80;
        return a;
    };
    startAgent("PollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n");
    QSignalSpy rules(agent.data(), &Agent::alarmJobSignal);
    QVERIFY(rules.wait(5000));
    const Command rule = rules.first().first().value<Command>();
    QCOMPARE(int(rule.type), 22);
    QCOMPARE(int(rule.value), 22);
    QCOMPARE(int(rule.flag), 80);
    // No report; the server would end the exchange, and one that does not is left after a while.
    QTRY_COMPARE(server->closedByAgent, 1);
    QCOMPARE(server->reports.size(), 0);

    // The rule reached the worker in its thread; a removal takes the first rule of that id.
    Worker *worker = agent->worker;
    QVERIFY(worker->thread() != QThread::currentThread());
    Command second = rule;
    second.value = 23;
    Command removal;
    initCommand(removal, 0, CommandType::RemoveRule, 0);
    removal.value = 22;
    agent->alarmJobSlot(second);
    agent->alarmJobSlot(removal);
    QList<int> ids;
    QMetaObject::invokeMethod(
        worker,
        [&] {
            for (const Command &r : worker->rules)
                ids << r.value;
        },
        Qt::BlockingQueuedConnection);
    QCOMPARE(ids, QList<int>{23});
}

// Without an Address the connection fails at once and is released like any other.
void TestServerSender::noAddressFailsAndIsReleased()
{
    writeTextFile(dir->filePath(QStringLiteral("Agent.ini")),
                  "PollServer=1\nTimerPeriod=3600000\n");
    agent.reset(new Agent(true, dir->path()));
    QStringList lines;
    connect(agent.data(), &Agent::writeUiLogSignal, this, [&](const QString &l) { lines << l; });
    agent->startUp();
    agent->sendBlindPacket();
    QTRY_COMPARE(Sender::liveCount(), 0);
    QVERIFY(lines.last().endsWith(QLatin1String(" - The specified host was not found.\n")));
    QCOMPARE(server->requests.size(), 0);
}

void TestServerSender::silentServerIsLeft()
{
    ServerSender::setTimeouts(200, 0);
    server->policy = [](const Command &, int) { return TestAgentServer::silent(); };
    startAgent("PollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n");
    QTRY_COMPARE(server->closedByAgent, 1);
    QVERIFY(agentLog.contains(
        QStringLiteral("No response from server within 200 ms; connection closed")));
    QTRY_COMPARE(Sender::liveCount(), 0);
}

void TestServerSender::manualDisconnect()
{
    server->policy = [](const Command &, int) { return TestAgentServer::silent(); };
    startAgent("PollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n");
    QTRY_COMPARE(server->requests.size(), 1);
    agent->disconnectFromServer();
    QTRY_COMPARE(server->closedByAgent, 1);
    QTRY_COMPARE(Sender::liveCount(), 0);
    QVERIFY(agentLog.contains(QStringLiteral("Disconnect from Kelvarix Server")));
}

// A period of 0 must not flood the server; the timer runs at the one-second floor.
void TestServerSender::pollingTicks()
{
    startAgent("PollServer=1\nTimerPeriod=0\n");
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(server->requests.size() >= 2, 10000);
    QVERIFY(clock.elapsed() >= 1500);
    QVERIFY(server->requests.size() <= 3);
    QCOMPARE(int(server->requests[0].flag), 0);
    QVERIFY(agentLog.contains(QStringLiteral("Timer period 0 ms is below 1000 ms; using 1000 ms")));
}

// An agent that contacts the server for hours must come back to the same memory and sockets.
void TestServerSender::exchangesAreReleased()
{
    ServerSender::setTimeouts(100, 100);
    server->policy = [](const Command &, int index) {
        switch (index % 4) {
        case 0:
            return TestAgentServer::close();
        case 1:
            return TestAgentServer::respond(CommandType::MachinesChanged);
        case 2:
            return TestAgentServer::respond(CommandType::CpuRule, 0, true);
        default:
            return TestAgentServer::silent();
        }
    };
    startAgent("PollServer=1\nTimerPeriod=3600000\n");
    const int before = openDescriptors();
    const int rounds = 300;
    for (int i = 0; i < rounds; ++i) {
        agent->sendBlindPacket();
        if (i % 25 == 24)
            QTRY_VERIFY_WITH_TIMEOUT(server->requests.size() == i + 1, 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(Sender::liveCount() == 0 && Receiver::liveCount() == 0, 20000);
    QCOMPARE(server->requests.size(), rounds);
    QCOMPARE(server->reports.size(), rounds / 4);
    QVERIFY2(
        openDescriptors() <= before + 2,
        qPrintable(
            QStringLiteral("%1 descriptors before, %2 after").arg(before).arg(openDescriptors())));
}

QTEST_GUILESS_MAIN(TestServerSender)
#include "tst_serversender.moc"
