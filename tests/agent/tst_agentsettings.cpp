#include "agent.h"
#include "agentsettings.h"
#include "serversender.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(AgentSettings)

// Agent.ini, Agent.key and Agent.log, as pure rules and as files an Agent reads and writes.
class TestAgentSettings : public QObject
{
    Q_OBJECT
private slots:
    void iniLines_data();
    void iniLines();
    void keyText_data();
    void keyText();
    void keyWrittenExactly();
    void startUpReadsFiles();
    void missingFilesKeepDefaults();
    void loggingOffWritesNothing();
    void helloPayload_data();
    void helloPayload();

private:
    static void writeFile(const QString &path, const QByteArray &bytes);
    static QByteArray readFile(const QString &path);
};

void TestAgentSettings::writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray TestAgentSettings::readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void TestAgentSettings::iniLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<AgentSettings>("expected");

    const AgentSettings d;
    AgentSettings s = d;
    QTest::addRow("empty file keeps defaults") << "" << d;
    QTest::addRow("section, blank and unknown lines ignored")
        << "[Agent]\n\nColour=blue\n; Address=x\n"
        << d;

    s = d;
    s.serverAddress = QStringLiteral("server.example");
    QTest::addRow("blanks around = and after the name") << "Address   =   server.example   \n" << s;
    QTest::addRow("value ends at the next =") << "Address=server.example=rest\n" << s;
    QTest::addRow("carriage returns removed") << "Address=server.example\r\n" << s;
    QTest::addRow("last line wins") << "Address=first\nAddress=server.example\n" << s;
    QTest::addRow("line without = leaves the setting")
        << "Address=server.example\nAddress server2\n"
        << s;

    s = d;
    s.pollServer = true;
    QTest::addRow("PollServer 1 turns polling on") << "PollServer=1\n" << s;
    QTest::addRow("PollServer 2 leaves polling off") << "PollServer=2\n" << d;
    QTest::addRow("PollServer 2 leaves polling on") << "PollServer=1\nPollServer=2\n" << s;
    QTest::addRow("PollServer 0 turns polling off") << "PollServer=1\nPollServer=0\n" << d;

    s = d;
    s.timerPeriod = 0;
    QTest::addRow("TimerPeriod not a number gives 0") << "TimerPeriod=soon\n" << s;
    s.timerPeriod = 5000;
    QTest::addRow("TimerPeriod in ms") << "TimerPeriod = 5000\n" << s;

    s = d;
    s.serverPort = 0;
    QTest::addRow("ServerPort not a number gives 0") << "ServerPort=abc\n" << s;

    s = d;
    s.serverAddress = QStringLiteral("10.0.0.5");
    s.serverPort = 7720;
    s.agentPort = 7000;
    s.negotiateOnStartup = true;
    s.showMainWindow = true;
    QTest::addRow("every key")
        << "[Client]\nAddress=10.0.0.5\nServerPort=7720\nAgentPort=7000\n"
           "NegotiateOnStartup=1\nShowMainWindow=1\nPollServer=0\nTimerPeriod=60000\n"
        << s;
}

void TestAgentSettings::iniLines()
{
    QFETCH(QString, text);
    QFETCH(AgentSettings, expected);
    const AgentSettings got = parseAgentIni(text);
    QCOMPARE(got.serverAddress, expected.serverAddress);
    QCOMPARE(got.serverPort, expected.serverPort);
    QCOMPARE(got.agentPort, expected.agentPort);
    QCOMPARE(got.negotiateOnStartup, expected.negotiateOnStartup);
    QCOMPARE(got.showMainWindow, expected.showMainWindow);
    QCOMPARE(got.pollServer, expected.pollServer);
    QCOMPARE(got.timerPeriod, expected.timerPeriod);
}

void TestAgentSettings::keyText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("uuid");
    QTest::addRow("as written") << "[Client]\nUUID=42" << 42u;
    QTest::addRow("last of two UUID lines") << "[Client]\nUUID=17\nUUID=18\n" << 18u;
    QTest::addRow("only the section line") << "[Client]" << 0u;
    QTest::addRow("blanks around the number") << "UUID =  99 \n" << 99u;
    QTest::addRow("UUID line without =") << "UUID=5\nUUID 6\n" << 5u;
    QTest::addRow("largest identity") << "UUID=4294967295" << 4294967295u;
}

void TestAgentSettings::keyText()
{
    QFETCH(QString, text);
    QFETCH(quint32, uuid);
    QCOMPARE(parseAgentKey(text), uuid);
}

void TestAgentSettings::keyWrittenExactly()
{
    QTemporaryDir dir;
    Agent agent(true, dir.path());
    QVERIFY(!agent.keyJustWritten);
    agent.readKeyFile(true, 42);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("Agent.key"))), QByteArray("[Client]\nUUID=42"));
    QCOMPARE(agent.uuid, 42u);
    QVERIFY(agent.keyJustWritten);

    agent.uuid = 0;
    agent.readKeyFile(false, 0);
    QCOMPARE(agent.uuid, 42u);
}

// Start-up: the log is emptied, the name in Address is resolved, the key is read.
void TestAgentSettings::startUpReadsFiles()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Agent.log")), "old line\n");
    writeFile(dir.filePath(QStringLiteral("Agent.ini")),
              "[Client]\nAddress  =  localhost  \nServerPort=6999\nPollServer=1\n"
              "TimerPeriod=3600000\n");
    writeFile(dir.filePath(QStringLiteral("Agent.key")), "[Client]\nUUID=17\nUUID=18");

    Agent agent(true, dir.path());
    QSignalSpy lines(&agent, &Agent::writeUiLogSignal);
    agent.startUp();
    QCOMPARE(agent.serverAddress, QStringLiteral("127.0.0.1"));
    QCOMPARE(agent.serverPort, 6999);
    QCOMPARE(agent.uuid, 18u);
    QVERIFY(agent.pollServer);
    QVERIFY(agent.pollTimer && agent.pollTimer->isActive());
    QVERIFY(!agent.udpServer);

    const QByteArray log = readFile(dir.filePath(QStringLiteral("Agent.log")));
    QVERIFY(!log.contains("old line"));
    const QList<QByteArray> logLines = log.split('\n');
    QVERIFY(logLines.size() > 5);
    const QStringList texts = [&] {
        QStringList t;
        for (const QByteArray &l : logLines)
            t << QString::fromUtf8(l.mid(l.indexOf(" - ") + 3));
        return t;
    }();
    QCOMPARE(
        texts.mid(0, 7),
        (QStringList{"Read parameters from configuration file Agent's initialization file.",
                     "Parameters are loaded ok", "Keyfile reading ...", "Keyfile reading ... OK",
                     "Starting Agent", "Trusted server @ 127.0.0.1:6999", "Client UUID: 18"}));
    QVERIFY(texts.contains(QStringLiteral("Kelvarix Client initialization ....")));
    // Each line begins with the local date-time in Qt's default text form.
    const QByteArray first = logLines.first();
    const QDateTime stamp =
        QDateTime::fromString(QString::fromLatin1(first.left(first.indexOf(" - "))), Qt::TextDate);
    QVERIFY2(stamp.isValid(), first.constData());
    QCOMPARE(lines.size(), logLines.size() - 1);
    QVERIFY(lines.first().first().toString().endsWith(QLatin1Char('\n')));
}

void TestAgentSettings::missingFilesKeepDefaults()
{
    QTemporaryDir dir;
    Agent bare(true, dir.path());
    QSignalSpy bareLines(&bare, &Agent::writeUiLogSignal);
    bare.readKeyFile(false, 0);
    QCOMPARE(bare.uuid, 0u);
    QVERIFY(bareLines.last().first().toString().endsWith(
        QLatin1String(" - [ERROR] Unable to open key file for reading\n")));

    // A directory in the key's place cannot be opened for writing, whatever the rights.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Agent.key")));
    Agent locked(true, dir.path());
    QSignalSpy lockedLines(&locked, &Agent::writeUiLogSignal);
    locked.uuid = 7;
    locked.readKeyFile(true, 42);
    QCOMPARE(locked.uuid, 7u);
    QVERIFY(!locked.keyJustWritten);
    QVERIFY(lockedLines.last().first().toString().endsWith(
        QLatin1String(" - [ERROR] Unable to open key file for writing\n")));
}

void TestAgentSettings::loggingOffWritesNothing()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Agent.ini")), "PollServer=1\nAddress=127.0.0.1\n");
    Agent agent(false, dir.path());
    QSignalSpy lines(&agent, &Agent::writeUiLogSignal);
    agent.startUp();
    agent.writeLog(QStringLiteral("anything"));
    QCOMPARE(lines.size(), 0);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("Agent.log"))), QByteArray());
}

void TestAgentSettings::helloPayload_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("payload");
    QTest::addRow("default port") << 6722 << "PC1";
    QTest::addRow("other port") << 7000 << "PC1-7000";
}

void TestAgentSettings::helloPayload()
{
    QFETCH(int, port);
    QFETCH(QString, payload);
    QCOMPARE(ServerSender::helloPayload(QStringLiteral("PC1"), port), payload);
}

QTEST_GUILESS_MAIN(TestAgentSettings)
#include "tst_agentsettings.moc"
