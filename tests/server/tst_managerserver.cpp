#include "agentserver.h"
#include "browserclient.h"
#include "managerserverreceiver.h"
#include "masterserver.h"
#include "pgcluster.h"
#include "serverharness.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{

const QString kLocalhost = QStringLiteral("127.0.0.1");
const QString kDiscoveryDone = QStringLiteral("Send refresh message to web based managers");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file and directory below root with its contents, the server's own log left out.
QStringList tree(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (relative == QLatin1String("Server.log"))
            continue;
        if (it.fileInfo().isDir())
            entries.append(relative + QLatin1Char('/'));
        else
            entries.append(relative + QLatin1Char('=') + QString::fromLatin1(readFile(path)));
    }
    entries.sort();
    return entries;
}

QStringList temporaryUploads(const QString &root)
{
    return QDir(root + QLatin1String("/upload")).entryList({QStringLiteral("*.tmp")}, QDir::Files);
}

} // namespace

class TestManagerServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void listenersStartAfterDatabase();
    void busyManagerPortStopsListeners();
    void unusableWebSocketPort_data();
    void unusableWebSocketPort();
    void requestTypes_data();
    void requestTypes();
    void unknownAdministratorIsIgnored_data();
    void unknownAdministratorIsIgnored();
    void jobCheckForCreatorOnly();
    void uploadReplacesDirectory();
    void interruptedUploadLeavesNoFile();
    void refusedApplicationLeavesUploadAlone_data();
    void refusedApplicationLeavesUploadAlone();
    void deleteApplicationRemovesItsJobs();
    void removeDirectoryTreeStaysInside();

private:
    bool sql(const QString &statement);
    PgCluster pg;
};

void TestManagerServer::initTestCase()
{
    KELVARIX_REQUIRE_PG(pg);
}

void TestManagerServer::init()
{
    QVERIFY2(sql(QStringLiteral("TRUNCATE users, machines, jobs, job_machines, job_groups, "
                                "applications, discoveries RESTART IDENTITY")),
             qPrintable(pg.errorText()));
}

bool TestManagerServer::sql(const QString &statement)
{
    return pg.execAsSuperUser(statement);
}

void TestManagerServer::listenersStartAfterDatabase()
{
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    const QStringList &log = harness.messages;
    const int manager = log.indexOf(
        QStringLiteral("Start Manager Server on port: %1").arg(harness.serverManagerPort()));
    const int agent = log.indexOf(
        QStringLiteral("Start Agent Server on port: %1").arg(harness.serverAgentPort()));
    QVERIFY2(manager > 0, qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY(agent > manager);
    const int webSocket =
        log.indexOf(QStringLiteral("Server is listening port %1").arg(harness.webSocketPort()));
    QVERIFY(webSocket > 0 && webSocket < manager);
    QVERIFY(log.contains(QStringLiteral("Kelvarix Server is running .....")));
}

void TestManagerServer::busyManagerPortStopsListeners()
{
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
    ServerHarness harness(pg);
    QVERIFY(harness.start({QStringLiteral("ServerManagerPort=%1").arg(blocker.serverPort())}));
    const QStringList &log = harness.messages;
    QVERIFY2(log.contains(QStringLiteral("Another application is using the same port: %1")
                              .arg(blocker.serverPort())),
             qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY(!log.filter(QStringLiteral("Start Manager Server on port: ")).size());
    QVERIFY(!log.filter(QStringLiteral("Start Agent Server on port: ")).size());
    QVERIFY(!harness.server()->agentListener()->isListening());
    QVERIFY(
        log.contains(QStringLiteral("Kelvarix Server initialization not completed successfully")));
}

void TestManagerServer::unusableWebSocketPort_data()
{
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("reason");
    QTest::addRow("taken by another program") << true << "The bound address is already in use";
    QTest::addRow("beyond the TCP range") << false << "not a TCP port";
}

// Browsers cannot connect, which the log says with the port; agents and managers are served.
void TestManagerServer::unusableWebSocketPort()
{
    QFETCH(bool, busy);
    QFETCH(QString, reason);
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
    const int port = busy ? blocker.serverPort() : 65536 + blocker.serverPort();
    ServerHarness harness(pg);
    QVERIFY(harness.start({QStringLiteral("WebSocketPort=%1").arg(port)}));
    const QStringList &log = harness.messages;
    const int error = log.indexOf(QStringLiteral("Error: Can't launch websockect server"));
    QVERIFY2(error > 0, qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(log.value(error + 1),
             QStringLiteral("Unable to listen on WebSocket port %1: %2").arg(port).arg(reason));
    QVERIFY(harness.server()->agentListener()->isListening());
    QVERIFY(log.contains(QStringLiteral("Kelvarix Server is running .....")));
}

void TestManagerServer::requestTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("discovery");
    QTest::addRow("10 manager hello") << int(CommandType::ManagerHello) << true << false;
    QTest::addRow("16 discovery presence") << int(CommandType::Discovery) << true << false;
    QTest::addRow("12 hello") << int(CommandType::Hello) << true << false;
    QTest::addRow("8 identity runs a discovery") << int(CommandType::Identity) << true << true;
    QTest::addRow("4 command line ignored") << int(CommandType::CommandLine) << false << false;
    QTest::addRow("7 notice ignored") << int(CommandType::MachinesChanged) << false << false;
}

void TestManagerServer::requestTypes()
{
    QFETCH(int, type);
    QFETCH(bool, listed);
    QFETCH(bool, discovery);
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (3, 'admin')")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QSignalSpy connections(harness.server(), &MasterServer::writeConnectionsLog);

    QVERIFY(harness.managerRequest(quint8(type), 3));
    QCOMPARE(harness.server()->managers(), listed ? QStringList{kLocalhost} : QStringList());
    QCOMPARE(connections.size(), listed ? 1 : 0);
    if (listed)
        QCOMPARE(connections.first(), (QVariantList{kLocalhost, 0, false}));
    QCOMPARE(harness.messages.contains(kDiscoveryDone), discovery);

    // A second presence request lists the manager once.
    if (listed) {
        QVERIFY(harness.managerRequest(quint8(type), 3));
        QCOMPARE(harness.server()->managers(), QStringList{kLocalhost});
        QCOMPARE(connections.size(), 1);
    }
}

void TestManagerServer::unknownAdministratorIsIgnored_data()
{
    QTest::addColumn<int>("type");
    QTest::addRow("10 presence") << int(CommandType::ManagerHello);
    QTest::addRow("8 discovery") << int(CommandType::Identity);
    QTest::addRow("12 job check") << int(CommandType::Hello);
    QTest::addRow("5 upload") << int(CommandType::FileUpload);
    QTest::addRow("6 delete") << int(CommandType::DeleteApplication);
}

void TestManagerServer::unknownAdministratorIsIgnored()
{
    QFETCH(int, type);
    QUdpSocket agent;
    QVERIFY(agent.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (7, 'admin')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO applications (id, name, fileName) VALUES "
                               "(3, 'Tool', 'setup.msi')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO machines (id, name, peerip, port, agentType) VALUES "
                               "(1, 'pc1', '127.0.0.1', %1, 0)")
                    .arg(agent.localPort())));
    QVERIFY(sql(QStringLiteral("INSERT INTO jobs (id, creator, cmd, prm2, scheduleType) VALUES "
                               "(1, 99, 4, 3, 8)")));
    QVERIFY(sql(QStringLiteral("INSERT INTO job_machines (id, creator, machine, job, active) "
                               "VALUES (5, 99, 1, 1, 0)")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QVERIFY(writeFile(harness.path() + QLatin1String("/upload/Tool/setup.msi"), "installed"));
    const QStringList before = tree(harness.path());

    QVERIFY(harness.managerRequest(quint8(type), 99, 3, type == 5 ? "new bytes" : ""));
    QVERIFY(harness.server()->managers().isEmpty());
    QVERIFY(!harness.messages.contains(kDiscoveryDone));
    QVERIFY(harness.server()->agentListener()->pendingJobList().isEmpty());
    QVERIFY(!agent.hasPendingDatagrams());
    QCOMPARE(tree(harness.path()), before);
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT id FROM applications")), QList<int>{3});
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT id FROM jobs")), QList<int>{1});
}

void TestManagerServer::jobCheckForCreatorOnly()
{
    QUdpSocket agent;
    QVERIFY(agent.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (7, 'a'), (8, 'b')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO machines (id, name, peerip, port, agentType) VALUES "
                               "(1, 'pc1', '127.0.0.1', %1, 0), (2, 'pc2', '127.0.0.1', %1, 0)")
                    .arg(agent.localPort())));
    QVERIFY(sql(QStringLiteral("INSERT INTO jobs (id, creator, cmd, prm3, scheduleType) VALUES "
                               "(1, 7, 4, 'hostname', 8), (2, 8, 4, 'hostname', 8)")));
    QVERIFY(sql(QStringLiteral("INSERT INTO job_machines (id, creator, machine, job, active) "
                               "VALUES (11, 7, 1, 1, 0), (12, 8, 2, 2, 0)")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());

    QVERIFY(harness.managerRequest(CommandType::Hello, 7));
    Command packet;
    QVERIFY(ServerHarness::takeDatagram(agent, &packet));
    QCOMPARE(int(packet.type), int(CommandType::BlindPacket));
    QCOMPARE(packet.agentId, 1);
    QCOMPARE(packet.reference, 11);
    QCOMPARE(packet.payload, QStringLiteral("BPacket"));
    QCOMPARE(packet.payloadLength, 7);
    // The whole check ran before the request returned: nothing for administrator 8's job.
    QVERIFY(!agent.hasPendingDatagrams());
    const QList<Job> pending = harness.server()->agentListener()->pendingJobList();
    QCOMPARE(pending.size(), 1);
    QCOMPARE(pending.first().jobMachineId, 11);
    QCOMPARE(pending.first().machineId, 1);
    QCOMPARE(harness.server()->managers(), QStringList{kLocalhost});
}

void TestManagerServer::uploadReplacesDirectory()
{
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (1, 'admin')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO applications (id, name, fileName) VALUES "
                               "(3, 'Tool', 'setup.msi'), (4, 'Other', 'other.msi')")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    const QString dir = harness.path() + QLatin1String("/upload/Tool");
    QVERIFY(writeFile(harness.path() + QLatin1String("/upload/Other/other.msi"), "other"));

    QVERIFY(harness.managerRequest(CommandType::FileUpload, 1, 3, "first version"));
    QTRY_COMPARE(readFile(dir + QLatin1String("/setup.msi")), QByteArray("first version"));
    QVERIFY(writeFile(dir + QLatin1String("/stale.txt"), "old"));
    QVERIFY(writeFile(dir + QLatin1String("/sub/.hidden"), "old"));

    // Large enough to arrive in several reads.
    QByteArray second(300000, '\0');
    for (int i = 0; i < second.size(); ++i)
        second[i] = char(i * 7);
    QVERIFY(harness.managerRequest(CommandType::FileUpload, 1, 3, second));
    QTRY_COMPARE(readFile(dir + QLatin1String("/setup.msi")), second);
    QCOMPARE(
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("setup.msi")});
    QCOMPARE(readFile(harness.path() + QLatin1String("/upload/Other/other.msi")),
             QByteArray("other"));
    QVERIFY(temporaryUploads(harness.path()).isEmpty());
}

void TestManagerServer::interruptedUploadLeavesNoFile()
{
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (1, 'admin')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO applications (id, name, fileName) VALUES "
                               "(3, 'Tool', 'setup.msi')")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QVERIFY(writeFile(harness.path() + QLatin1String("/upload/Tool/setup.msi"), "installed"));
    const QStringList before = tree(harness.path());

    QTcpSocket manager;
    manager.connectToHost(QHostAddress::LocalHost, quint16(harness.serverManagerPort()));
    QVERIFY(manager.waitForConnected(5000));
    Command request;
    initCommand(request, 1, CommandType::FileUpload, 3);
    request.payloadLength = 100000;
    manager.write(encodeHeader(request) + QByteArray(1000, 'x'));
    QTRY_VERIFY(!temporaryUploads(harness.path()).isEmpty());
    manager.abort();
    QTRY_VERIFY(temporaryUploads(harness.path()).isEmpty());
    QCOMPARE(tree(harness.path()), before);
}

void TestManagerServer::refusedApplicationLeavesUploadAlone_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("logLine");
    const int upload = CommandType::FileUpload;
    const int remove = CommandType::DeleteApplication;
    const QString noRow = QStringLiteral("No application with id 9");
    const QString refusedUpload =
        QStringLiteral("Refused installer outside the upload directory: ");
    const QString refusedDelete =
        QStringLiteral("Refused to delete outside the upload directory: ");
    // A null name means no application row at all.
    QTest::addRow("upload, no row") << upload << QString() << QString() << noRow;
    QTest::addRow("delete, no row") << remove << QString() << QString() << noRow;
    QTest::addRow("upload, name climbs out") << upload << "../outside"
                                             << "setup.msi" << refusedUpload;
    QTest::addRow("delete, name climbs out") << remove << "../outside"
                                             << "setup.msi" << refusedDelete;
    QTest::addRow("upload, name is ..") << upload << ".."
                                        << "setup.msi" << refusedUpload;
    QTest::addRow("delete, name is ..") << remove << ".."
                                        << "setup.msi" << refusedDelete;
    QTest::addRow("upload, name is .") << upload << "."
                                       << "setup.msi" << refusedUpload;
    QTest::addRow("delete, name is .") << remove << "."
                                       << "setup.msi" << refusedDelete;
    QTest::addRow("upload, empty name") << upload << ""
                                        << "setup.msi" << refusedUpload;
    QTest::addRow("delete, nested name") << remove << "Keep/inner"
                                         << "setup.msi" << refusedDelete;
    QTest::addRow("upload, file name climbs out") << upload << "Tool"
                                                  << "../../escaped.msi" << refusedUpload;
}

void TestManagerServer::refusedApplicationLeavesUploadAlone()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    QFETCH(QString, logLine);
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (1, 'admin')")));
    if (!name.isNull())
        QVERIFY(sql(QStringLiteral("INSERT INTO applications (id, name, fileName) VALUES "
                                   "(9, '%1', '%2')")
                        .arg(name, fileName)));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    const QString root = harness.path();
    QVERIFY(writeFile(root + QLatin1String("/upload/keep.txt"), "keep"));
    QVERIFY(writeFile(root + QLatin1String("/upload/Keep/inner/file.bin"), "inner"));
    QVERIFY(writeFile(root + QLatin1String("/upload/Tool/setup.msi"), "tool"));
    QVERIFY(writeFile(root + QLatin1String("/outside/sentinel.txt"), "outside"));
    const QStringList before = tree(root);

    QVERIFY(harness.managerRequest(quint8(type), 1, 9, type == 5 ? "uploaded" : ""));
    QCOMPARE(tree(root), before);
    QVERIFY2(!harness.messages.filter(logLine).isEmpty(),
             qPrintable(harness.messages.join(QLatin1Char('\n'))));
    if (type == CommandType::DeleteApplication)
        QVERIFY(ServerHarness::column(QStringLiteral("SELECT id FROM applications")).isEmpty());
}

void TestManagerServer::deleteApplicationRemovesItsJobs()
{
    QVERIFY(sql(QStringLiteral("INSERT INTO users (id, username) VALUES (1, 'admin')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO applications (id, name, fileName) VALUES "
                               "(4, 'App4', 'a.msi'), (5, 'App5', 'b.msi')")));
    QVERIFY(sql(QStringLiteral("INSERT INTO machines (id, name, peerip) VALUES "
                               "(1, 'pc1', '127.0.0.1')")));
    // Jobs 10 and 11 refer to application 4 (whatever their command), 12 to application 5.
    QVERIFY(sql(QStringLiteral("INSERT INTO jobs (id, creator, cmd, prm2, scheduleType) VALUES "
                               "(10, 1, 3, 4, 7), (11, 1, 4, 4, 7), (12, 1, 3, 5, 7)")));
    QVERIFY(sql(QStringLiteral("INSERT INTO job_groups (id, name, job) VALUES "
                               "(1, 'g', 10), (2, 'g', 11), (3, 'g', 12)")));
    QVERIFY(sql(QStringLiteral("INSERT INTO job_machines (id, creator, machine, job) VALUES "
                               "(1, 1, 1, 10), (2, 1, 1, 11), (3, 1, 1, 12), (4, 1, 1, 10)")));
    ServerHarness harness(pg);
    QVERIFY(harness.start());
    QVERIFY(writeFile(harness.path() + QLatin1String("/upload/App4/a.msi"), "a"));
    QVERIFY(writeFile(harness.path() + QLatin1String("/upload/App4/.cache/x"), "x"));
    QVERIFY(writeFile(harness.path() + QLatin1String("/upload/App5/b.msi"), "b"));

    QUdpSocket manager;
    QVERIFY(manager.bind(QHostAddress(QHostAddress::LocalHost), quint16(harness.managerPort())));
    BrowserClient browser;
    QVERIFY(browser.open(harness.webSocketPort()));
    QTRY_COMPARE(harness.server()->webClientCount(), 1);
    QVERIFY(harness.managerRequest(CommandType::ManagerHello, 1));

    QVERIFY(harness.managerRequest(CommandType::DeleteApplication, 1, 4));
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT id FROM applications")), QList<int>{5});
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT id FROM jobs")), QList<int>{12});
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT job FROM job_groups")), QList<int>{12});
    QCOMPARE(ServerHarness::column(QStringLiteral("SELECT job FROM job_machines")), QList<int>{12});
    QVERIFY(!QFileInfo::exists(harness.path() + QLatin1String("/upload/App4")));
    QCOMPARE(readFile(harness.path() + QLatin1String("/upload/App5/b.msi")), QByteArray("b"));

    Command notice;
    QVERIFY(ServerHarness::takeDatagram(manager, &notice));
    QCOMPARE(int(notice.type), int(CommandType::MachinesChanged));
    QCOMPARE(notice.agentId, 0);
    QCOMPARE(notice.reference, 0);
    QCOMPARE(browser.takeText(), QStringLiteral("Machine"));
}

void TestManagerServer::removeDirectoryTreeStaysInside()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QVERIFY(writeFile(root + QLatin1String("/outside/sentinel.txt"), "outside"));
    QVERIFY(writeFile(root + QLatin1String("/tree/a/b/file"), "1"));
    QVERIFY(writeFile(root + QLatin1String("/tree/.hidden"), "2"));
    QVERIFY(writeFile(root + QLatin1String("/tree/sub/.hiddendir/x"), "3"));
    QVERIFY(QFile::link(root + QLatin1String("/outside"), root + QLatin1String("/tree/dirlink")));
    QVERIFY(QFile::link(root + QLatin1String("/outside/sentinel.txt"),
                        root + QLatin1String("/tree/sub/filelink")));
    QVERIFY(QFile::link(root + QLatin1String("/nowhere"), root + QLatin1String("/tree/broken")));
    QVERIFY(QFile::link(root + QLatin1String("/outside"), root + QLatin1String("/toplink")));

    ManagerServerReceiver::removeDirectoryTree(root + QLatin1String("/tree"));
    QVERIFY(!QFileInfo::exists(root + QLatin1String("/tree")));
    // A link given as the tree itself goes as a link.
    ManagerServerReceiver::removeDirectoryTree(root + QLatin1String("/toplink"));
    QVERIFY(!QFileInfo(root + QLatin1String("/toplink")).isSymLink());
    ManagerServerReceiver::removeDirectoryTree(root + QLatin1String("/absent"));
    QCOMPARE(tree(root), (QStringList{QStringLiteral("outside/"),
                                      QStringLiteral("outside/sentinel.txt=outside")}));
}

QTEST_GUILESS_MAIN(TestManagerServer)
#include "tst_managerserver.moc"
