#include "masterserver.h"
#include "serverprocess.h"
#include "serversettings.h"
#include "testports.h"

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestServerSettings : public QObject
{
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void lastOccurrenceWins();
    void portKeys_data();
    void portKeys();
    void missingFileKeepsDefaults();
    void logAppendsAcrossRestarts();
    void unopenableLogStillReachesWindow();

private:
    static bool writeFreeWebSocketPort(const QString &dir);
    static QStringList runInit(const QString &dir);
    static QStringList logMessages(const QString &dir);
};

void TestServerSettings::lines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("dbServer");
    QTest::addColumn<QString>("dbPassword");
    QTest::addColumn<int>("ServerManagerPort");
    QTest::addColumn<int>("AgentPort");

    const QString host = QStringLiteral("db.example.lan");
    QTest::addRow("plain") << "dbServer=db.example.lan" << host << "" << 6717 << 6722;
    QTest::addRow("blanks around value")
        << "dbServer = db.example.lan  " << host << "" << 6717 << 6722;
    QTest::addRow("blanks before key ignored") << "  dbServer=db.example.lan"
                                               << ""
                                               << "" << 6717 << 6722;
    QTest::addRow("tab before key ignored") << "\tdbServer=db.example.lan"
                                            << ""
                                            << "" << 6717 << 6722;
    QTest::addRow("second equals cuts value") << "dbPassword=se=cret"
                                              << ""
                                              << "se" << 6717 << 6722;
    QTest::addRow("key without equals keeps setting")
        << "dbServer=db.example.lan\ndbServer" << host << "" << 6717 << 6722;
    QTest::addRow("empty value") << "dbServer=db.example.lan\ndbServer="
                                 << ""
                                 << "" << 6717 << 6722;
    QTest::addRow("port") << "ServerManagerPort=7001"
                          << ""
                          << "" << 7001 << 6722;
    QTest::addRow("port with blanks") << "ServerManagerPort = 7001 "
                                      << ""
                                      << "" << 7001 << 6722;
    QTest::addRow("unparsable port gives 0") << "ServerManagerPort=70x1"
                                             << ""
                                             << "" << 0 << 6722;
    QTest::addRow("hex port gives 0") << "ServerManagerPort=0x1b5d"
                                      << ""
                                      << "" << 0 << 6722;
    QTest::addRow("AgentPort") << "AgentPort=7002"
                               << ""
                               << "" << 6717 << 7002;
    QTest::addRow("key is case-sensitive") << "dbserver=db.example.lan"
                                           << ""
                                           << "" << 6717 << 6722;
    QTest::addRow("comments and sections ignored")
        << "[Database]\n; dbServer=x\n# comment\ndbServer=db.example.lan" << host << "" << 6717
        << 6722;
    QTest::addRow("windows line ends") << "dbServer=db.example.lan\r\ndbPassword=pw\r\n"
                                       << host << "pw" << 6717 << 6722;
    QTest::addRow("prefix of a longer word still matches")
        << "dbServerName=db.example.lan" << host << "" << 6717 << 6722;
}

void TestServerSettings::lines()
{
    QFETCH(QString, text);
    QByteArray bytes = text.toUtf8();
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Text));
    ServerSettings settings;
    settings.applyAll(buffer);
    QTEST(settings.dbServer, "dbServer");
    QTEST(settings.dbPassword, "dbPassword");
    QTEST(settings.ServerManagerPort, "ServerManagerPort");
    QTEST(settings.AgentPort, "AgentPort");
    QCOMPARE(settings.ServerAgentPort, 6720);
    QCOMPARE(settings.ManagerPort, 6718);
}

void TestServerSettings::lastOccurrenceWins()
{
    QByteArray bytes(
        "dbName=first\ndbType=QPSQL\ndbName=second\nServerAgentPort=1\nServerAgentPort=2\n"
        "ManagerPort=9\ndbUsername=kx\n");
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    ServerSettings settings;
    settings.applyAll(buffer);
    QCOMPARE(settings.dbName, QStringLiteral("second"));
    QCOMPARE(settings.dbType, QStringLiteral("QPSQL"));
    QCOMPARE(settings.dbUsername, QStringLiteral("kx"));
    QCOMPARE(settings.ServerAgentPort, 2);
    QCOMPARE(settings.ManagerPort, 9);
}

void TestServerSettings::portKeys_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("ports");
    const QList<int> defaults{6717, 6720, 6718, 6722, 1337};
    QTest::addRow("defaults") << "" << defaults;
    QTest::addRow("every key") << "ServerManagerPort=1\nServerAgentPort=2\nManagerPort=3\n"
                                  "AgentPort=4\nWebSocketPort=5"
                               << QList<int>{1, 2, 3, 4, 5};
    QTest::addRow("WebSocketPort alone")
        << "[Ports]\nWebSocketPort = 8080" << QList<int>{6717, 6720, 6718, 6722, 8080};
    QTest::addRow("unparsable WebSocketPort gives 0")
        << "WebSocketPort=80a" << QList<int>{6717, 6720, 6718, 6722, 0};
    QTest::addRow("WebSocketPort without value keeps default") << "WebSocketPort" << defaults;
}

// Each port key sets its own port and no other.
void TestServerSettings::portKeys()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, ports);
    QByteArray bytes = text.toUtf8();
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Text));
    ServerSettings settings;
    settings.applyAll(buffer);
    QCOMPARE((QList<int>{settings.ServerManagerPort, settings.ServerAgentPort, settings.ManagerPort,
                         settings.AgentPort, settings.WebSocketPort}),
             ports);
}

// Runs that need no particular configuration still keep off the default WebSocket port,
// which a real server on this machine may hold.
bool TestServerSettings::writeFreeWebSocketPort(const QString &dir)
{
    return ServerProcess::writeServerIni(dir,
                                         {QStringLiteral("WebSocketPort=%1").arg(freeTcpPort())});
}

QStringList TestServerSettings::runInit(const QString &dir)
{
    MasterServer server(dir);
    QSignalSpy spy(&server, &MasterServer::writeUILog);
    server.init();
    QStringList messages;
    for (const QList<QVariant> &arguments : qAsConst(spy))
        messages << arguments.at(0).toString();
    return messages;
}

QStringList TestServerSettings::logMessages(const QString &dir)
{
    QFile log(dir + QStringLiteral("/Server.log"));
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList messages;
    const QRegularExpression entry(
        QStringLiteral("^\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} - (.*)$"));
    for (const QString &line :
         QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = entry.match(line);
        messages << (match.hasMatch() ? match.captured(1) : QStringLiteral("<malformed> ") + line);
    }
    return messages;
}

void TestServerSettings::missingFileKeepsDefaults()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MasterServer server(dir.path());
    QSignalSpy spy(&server, &MasterServer::writeUILog);
    server.init();
    const ServerSettings &settings = server.serverSettings();
    QCOMPARE(settings.ServerManagerPort, 6717);
    QCOMPARE(settings.ServerAgentPort, 6720);
    QCOMPARE(settings.ManagerPort, 6718);
    QCOMPARE(settings.AgentPort, 6722);
    QCOMPARE(settings.WebSocketPort, 1337);
    QVERIFY(settings.dbServer.isEmpty() && settings.dbName.isEmpty() && settings.dbType.isEmpty());

    QStringList messages;
    for (const QList<QVariant> &arguments : qAsConst(spy))
        messages << arguments.at(0).toString();
    // Without a driver name the database cannot open, so start-up stops there.
    QCOMPARE(messages.value(0), QStringLiteral("Kelvarix Server initialization ...."));
    QCOMPARE(messages.value(1),
             QStringLiteral("Read parameters from configuration file: Server.ini"));
    QCOMPARE(messages.value(2),
             QStringLiteral("[ERROR] Unable to open configuration file: Server.ini"));
    // The browsers' listener starts before the database; it names the default port whether
    // or not another program holds it.
    QVERIFY2(!messages.filter(QStringLiteral("port 1337")).isEmpty(),
             qPrintable(messages.join(QLatin1Char('\n'))));
    QCOMPARE(messages.value(messages.size() - 2),
             QStringLiteral("Unable to connect to MySQL Server @ "));
    QCOMPARE(messages.last(),
             QStringLiteral("Kelvarix Server initialization not completed successfully"));
    QCOMPARE(logMessages(dir.path()), messages);
}

void TestServerSettings::logAppendsAcrossRestarts()
{
    QTemporaryDir dir;
    QVERIFY(writeFreeWebSocketPort(dir.path()));
    const QStringList first = runInit(dir.path());
    const QStringList second = runInit(dir.path());
    QVERIFY(first.size() >= 4);
    // Both runs, whole and in order; entries of one second keep their order too.
    QCOMPARE(logMessages(dir.path()), first + second);

    MasterServer server(dir.path());
    server.init();
    server.writeLog(QStringLiteral("entry one"));
    server.writeLog(QStringLiteral("entry two"));
    const QStringList all = logMessages(dir.path());
    QCOMPARE(all.mid(all.size() - 2), QStringList({"entry one", "entry two"}));
}

void TestServerSettings::unopenableLogStillReachesWindow()
{
    QTemporaryDir dir;
    QVERIFY(writeFreeWebSocketPort(dir.path()));
    // A directory where the log file should be makes it impossible to open.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Server.log")));
    const QStringList messages = runInit(dir.path());
    QCOMPARE(messages.value(0), QStringLiteral("[ERROR] Unable to open log file: Server.log"));
    QCOMPARE(messages.value(1), QStringLiteral("Kelvarix Server initialization ...."));
    QCOMPARE(messages.last(),
             QStringLiteral("Kelvarix Server initialization not completed successfully"));
}

QTEST_GUILESS_MAIN(TestServerSettings)
#include "tst_serversettings.moc"
