#include "pgcluster.h"
#include "serverprocess.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// KelvarixServer itself, run headless in a temporary configuration directory.
class TestServerProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void startsAgainstPostgres();
    void wrongPasswordKeepsListenersDown();
    void startsAgainstSqlite();
    void missingSqliteDatabase();
    void endsCleanlyOnTerminate();
    void busyPortEndsHeadlessServer_data();
    void busyPortEndsHeadlessServer();

private:
    static QStringList portLines(int *managerPort, int *agentPort);
    static void verifyInOrder(const QStringList &messages, const QStringList &expected);
    static void verifyNotListening(int port);
    static bool loadSqlite(const QString &file);

    PgCluster pg;
    bool pgReady = false;
};

namespace
{

const QStringList kStartedLines = {
    QStringLiteral("Kelvarix Server initialization ...."),
    QStringLiteral("Read parameters from configuration file: Server.ini"),
    QStringLiteral("Kelvarix Server initialization completed successfully"),
    QStringLiteral("Kelvarix Server is running ....."),
};

QStringList fileMessages(const QString &dir)
{
    QFile log(dir + QStringLiteral("/Server.log"));
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList messages;
    for (const QString &line :
         QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        messages << line.mid(line.indexOf(QLatin1String(" - ")) + 3);
    return messages;
}

} // namespace

void TestServerProgram::initTestCase()
{
    QVERIFY2(QFile::exists(ServerProcess::programPath()), qPrintable(ServerProcess::programPath()));
    pgReady = pg.start();
    if (!pgReady && PgCluster::required())
        QFAIL(qPrintable(pg.errorText()));
}

QStringList TestServerProgram::portLines(int *managerPort, int *agentPort)
{
    const QStringList lines = ServerProcess::freePortLines();
    *managerPort = ServerProcess::portIn(lines, QStringLiteral("ServerManagerPort"));
    *agentPort = ServerProcess::portIn(lines, QStringLiteral("ServerAgentPort"));
    return lines;
}

void TestServerProgram::verifyInOrder(const QStringList &messages, const QStringList &expected)
{
    int at = -1;
    for (const QString &line : expected) {
        const int found = messages.indexOf(line, at + 1);
        QVERIFY2(found > at,
                 qPrintable(QStringLiteral("missing or out of order: ") + line +
                            QStringLiteral("\nin:\n") + messages.join(QLatin1Char('\n'))));
        at = found;
    }
}

void TestServerProgram::verifyNotListening(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    QVERIFY(!socket.waitForConnected(5000));
    QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
}

bool TestServerProgram::loadSqlite(const QString &file)
{
    for (const char *sql : {"zvn_struct_sqlite.sql", "zvn_fill.sql"}) {
        QProcess shell;
        shell.setStandardInputFile(PgCluster::sqlDir() + QLatin1Char('/') + QLatin1String(sql));
        shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), file});
        if (!shell.waitForFinished(60000) || shell.exitCode() != 0)
            return false;
    }
    return true;
}

void TestServerProgram::startsAgainstPostgres()
{
    if (!pgReady)
        QSKIP("PostgreSQL not available");
    QTemporaryDir dir;
    int managerPort = 0, agentPort = 0;
    QVERIFY(ServerProcess::writeServerIni(dir.path(), pg.serverIniLines() +
                                                          portLines(&managerPort, &agentPort)));
    ServerProcess server(dir.path());
    QVERIFY(server.start());
    QVERIFY2(server.waitForMessage(kStartedLines.last()), qPrintable(server.output()));
    const QStringList messages = server.messages();
    verifyInOrder(messages, kStartedLines);
    for (const QString &message : messages)
        QVERIFY2(!message.contains(QLatin1String("ERROR")) &&
                     !message.contains(QLatin1String("Unable")),
                 qPrintable(message));
    // Standard output and Server.log carry the same entries.
    QCOMPARE(fileMessages(dir.path()), messages);
    QCOMPARE(server.process().state(), QProcess::Running);
}

void TestServerProgram::wrongPasswordKeepsListenersDown()
{
    if (!pgReady)
        QSKIP("PostgreSQL not available");
    QTemporaryDir dir;
    int managerPort = 0, agentPort = 0;
    QVERIFY(ServerProcess::writeServerIni(dir.path(),
                                          pg.serverIniLines(QStringLiteral("not-the-password")) +
                                              portLines(&managerPort, &agentPort)));
    ServerProcess server(dir.path());
    QVERIFY(server.start());
    const QString failed =
        QStringLiteral("Kelvarix Server initialization not completed successfully");
    QVERIFY2(server.waitForMessage(failed), qPrintable(server.output()));
    const QStringList messages = server.messages();
    const QString unable = QStringLiteral("Unable to connect to PostgreSQL Server @ 127.0.0.1");
    const int unableAt = messages.indexOf(unable);
    QVERIFY2(unableAt > 0, qPrintable(messages.join(QLatin1Char('\n'))));
    // The driver's own text comes just before (it may span lines).
    const QString before = messages.mid(2, unableAt - 2).join(QLatin1Char('\n'));
    QVERIFY2(before.contains(QLatin1String("password authentication failed")), qPrintable(before));
    verifyInOrder(messages, {kStartedLines.at(0), kStartedLines.at(1), unable, failed});
    QVERIFY(!messages.contains(kStartedLines.at(2)));

    verifyNotListening(managerPort);
    verifyNotListening(agentPort);
    // Not a crash: the server keeps running without database and TCP listeners.
    QCOMPARE(server.process().state(), QProcess::Running);
}

void TestServerProgram::startsAgainstSqlite()
{
    QTemporaryDir dir;
    // A relative database name is relative to the configuration directory.
    QVERIFY(loadSqlite(dir.filePath(QStringLiteral("zvn.sqlite"))));
    int managerPort = 0, agentPort = 0;
    QVERIFY(ServerProcess::writeServerIni(
        dir.path(),
        QStringList{QStringLiteral("dbType=QSQLITE"), QStringLiteral("dbName = zvn.sqlite")} +
            portLines(&managerPort, &agentPort)));
    ServerProcess server(dir.path());
    QVERIFY(server.start());
    QVERIFY2(server.waitForMessage(kStartedLines.last()), qPrintable(server.output()));
    verifyInOrder(server.messages(), kStartedLines);
}

void TestServerProgram::missingSqliteDatabase()
{
    QTemporaryDir dir;
    QVERIFY(ServerProcess::writeServerIni(
        dir.path(),
        QStringList{QStringLiteral("dbType=QSQLITE"), QStringLiteral("dbName=missing.sqlite")} +
            ServerProcess::freePortLines()));
    ServerProcess server(dir.path());
    QVERIFY(server.start());
    QVERIFY2(server.waitForMessage(
                 QStringLiteral("Kelvarix Server initialization not completed successfully")),
             qPrintable(server.output()));
    QVERIFY(server.messages().contains(QStringLiteral("Unable to connect to SQLite Server @ ")));
    // An empty database would be of no use: the server creates no tables.
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing.sqlite"))));
}

void TestServerProgram::endsCleanlyOnTerminate()
{
    QTemporaryDir dir;
    QVERIFY(loadSqlite(dir.filePath(QStringLiteral("zvn.sqlite"))));
    QVERIFY(
        ServerProcess::writeServerIni(dir.path(), QStringList{QStringLiteral("dbType=QSQLITE"),
                                                              QStringLiteral("dbName=zvn.sqlite")} +
                                                      ServerProcess::freePortLines()));
    ServerProcess server(dir.path());
    QVERIFY(server.start());
    QVERIFY(server.waitForMessage(kStartedLines.last()));
    // The process id beside Server.log, for the services program; gone after a clean exit.
    QFile pidFile(dir.filePath(QStringLiteral("KelvarixServer.pid")));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    QCOMPARE(pidFile.readAll().trimmed().toLongLong(), server.process().processId());
    pidFile.close();
    server.process().terminate();
    QVERIFY(server.process().waitForFinished(10000));
    QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process().exitCode(), 0);
    QVERIFY(!pidFile.exists());
}

void TestServerProgram::busyPortEndsHeadlessServer_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("logged");
    QTest::addRow("WebSocket") << "WebSocketPort"
                               << "Unable to listen on WebSocket port %1: ";
    QTest::addRow("managers") << "ServerManagerPort"
                              << "Another application is using the same port: %1";
    QTest::addRow("agents") << "ServerAgentPort"
                            << "Another application is using the same port: %1";
}

// Headless, nobody would see that the server cannot be reached; it ends with an error instead,
// after naming the port in its log.
void TestServerProgram::busyPortEndsHeadlessServer()
{
    QFETCH(QString, key);
    QFETCH(QString, logged);
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
    QTemporaryDir dir;
    QVERIFY(loadSqlite(dir.filePath(QStringLiteral("zvn.sqlite"))));
    QVERIFY(ServerProcess::writeServerIni(
        dir.path(),
        QStringList{QStringLiteral("dbType=QSQLITE"), QStringLiteral("dbName=zvn.sqlite")} +
            ServerProcess::freePortLines() +
            QStringList{QStringLiteral("%1=%2").arg(key).arg(blocker.serverPort())}));
    ServerProcess server(dir.path());
    QVERIFY(server.start());
    QVERIFY2(server.process().waitForFinished(30000), qPrintable(server.output()));
    QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process().exitCode(), 3);
    const QString line = logged.arg(blocker.serverPort());
    QVERIFY2(!server.messages().filter(line).isEmpty(), qPrintable(server.output()));
    QVERIFY(!fileMessages(dir.path()).filter(line).isEmpty());
}

QTEST_GUILESS_MAIN(TestServerProgram)
#include "tst_serverprogram.moc"
