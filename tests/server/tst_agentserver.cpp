#include "agentserver.h"
#include "masterserver.h"
#include "pgcluster.h"
#include "receiver.h"
#include "serverprocess.h"
#include "sqltext.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// An agent played over a real loopback connection to the in-process server.
class AgentLink
{
public:
    explicit AgentLink(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool send(const Command &c)
    {
        if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; },
                             5000))
            return false;
        socket.write(encodeHeader(c) + payloadBytes(c));
        return true;
    }
    // Waits for a whole response, or for the server to close without one.
    bool response(Command *out, QByteArray *payload = nullptr)
    {
        QByteArray &buffer = received;
        auto complete = [&] {
            buffer += socket.readAll();
            if (buffer.size() >= kHeaderSize) {
                Command c;
                decodeHeader(buffer, c);
                if (buffer.size() >= kHeaderSize + c.payloadLength)
                    return true;
            }
            return socket.state() == QAbstractSocket::UnconnectedState;
        };
        (void)QTest::qWaitFor(complete, 10000);
        if (buffer.size() < kHeaderSize)
            return false;
        decodeHeader(buffer, *out);
        if (payload)
            *payload = buffer.mid(kHeaderSize);
        return true;
    }
    bool closedByServer()
    {
        return QTest::qWaitFor(
            [&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
    }
    QTcpSocket socket;
    QByteArray received;
};

class TestAgentServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void newMachineGetsIdentity();
    void unknownUuidCreatesRow();
    void knownUuidUpdatesRow();
    void semicolonInName();
    void sameNameTwoIdentities();
    void pendingHandedOutInOrder();
    void jobCheckFiltersAndEncodes();
    void immediateJobOnOfflineMachine();
    void deploymentSendsInstallerBytes();
    void missingInstaller_data();
    void missingInstaller();
    void newMachineGetsItsJobs();
    void handlersAreReleased();

private:
    Command hello(int uuid, const QString &name, quint16 port = 6722, quint8 flag = 0) const;
    Command report(quint8 type, quint16 value, const QString &payload) const;
    int insertMachine(const QString &name, int status, int port = 0);
    int insertJob(int creator, int cmd, int prm, int prm2, const QString &prm3, int scheduleType);
    int assign(int job, int machine, int creator = 1);
    QVariant value(const QString &sql);
    Command exchange(const Command &request, QByteArray *payload = nullptr);

    PgCluster pg;
    QTemporaryDir dir;
    MasterServer *master = nullptr;
    QStringList log;
    quint16 agentPort = 0;
};

void TestAgentServer::initTestCase()
{
    KELVARIX_REQUIRE_PG(pg);
    QVERIFY(ServerProcess::writeServerIni(dir.path(),
                                          pg.serverIniLines() + ServerProcess::freePortLines()));
    // Installers are looked up below the working directory.
    QVERIFY(QDir::setCurrent(dir.path()));
    master = new MasterServer(dir.path());
    connect(master, &MasterServer::writeUILog, this, [this](const QString &m) { log << m; });
    master->init();
    QVERIFY2(log.contains(QStringLiteral("Kelvarix Server is running .....")),
             qPrintable(log.join(QLatin1Char('\n'))));
    agentPort = quint16(master->serverSettings().ServerAgentPort);
    QVERIFY(log.contains(QStringLiteral("Start Agent Server on port: %1").arg(agentPort)));
}

void TestAgentServer::cleanupTestCase()
{
    delete master;
}

void TestAgentServer::init()
{
    for (const char *table : {"job_machines", "jobs", "machines", "applications"})
        SqlText(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table))).exec();
    master->agentListener()->cleanPendingJobMachineId();
    log.clear();
}

Command TestAgentServer::hello(int uuid, const QString &name, quint16 port, quint8 flag) const
{
    Command c;
    initCommand(c, uuid, CommandType::Hello, 0);
    c.value = port;
    c.flag = flag;
    c.payload = name;
    c.payloadLength = name.size();
    return c;
}

Command TestAgentServer::report(quint8 type, quint16 value, const QString &payload) const
{
    Command c;
    initCommand(c, 0, type, 0);
    c.value = value;
    c.payload = payload;
    c.payloadLength = payload.size();
    return c;
}

QVariant TestAgentServer::value(const QString &sql)
{
    QSqlQuery q = SqlText(sql).exec();
    return q.next() ? q.value(0) : QVariant();
}

int TestAgentServer::insertMachine(const QString &name, int status, int port)
{
    const int id = value(SqlText(QStringLiteral("INSERT INTO machines (name, peerip, port, "
                                                "status) VALUES ('%1', '127.0.0.1', %2, %3) "
                                                "RETURNING id"))
                             .text(name)
                             .number(port)
                             .number(status)
                             .toString())
                       .toInt();
    SqlText(QStringLiteral("UPDATE machines SET uuid=%1 WHERE id=%1")).number(id).exec();
    return id;
}

int TestAgentServer::insertJob(int creator, int cmd, int prm, int prm2, const QString &prm3,
                               int scheduleType)
{
    return value(SqlText(QStringLiteral("INSERT INTO jobs (creator, cmd, prm, prm2, prm3, "
                                        "scheduleType, scheduleDate, scheduleCount) VALUES (%1, "
                                        "%2, %3, %4, '%5', %6, LOCALTIMESTAMP(0), 1) RETURNING id"))
                     .number(creator)
                     .number(cmd)
                     .number(prm)
                     .number(prm2)
                     .text(prm3)
                     .number(scheduleType)
                     .toString())
        .toInt();
}

int TestAgentServer::assign(int job, int machine, int creator)
{
    return value(SqlText(QStringLiteral("INSERT INTO job_machines (creator, machine, job, active, "
                                        "status) VALUES (%1, %2, %3, 0, 235) RETURNING id"))
                     .number(creator)
                     .number(machine)
                     .number(job)
                     .toString())
        .toInt();
}

// One request on a fresh connection; an empty Command (version 0) when the server closed.
Command TestAgentServer::exchange(const Command &request, QByteArray *payload)
{
    AgentLink link(agentPort);
    Command response;
    if (!link.send(request) || !link.response(&response, payload))
        return Command();
    return response;
}

void TestAgentServer::newMachineGetsIdentity()
{
    AgentLink link(agentPort);
    QVERIFY(link.send(hello(0, QStringLiteral("O'Brien-PC"), 6722, 1)));
    Command response;
    QVERIFY(link.response(&response));
    QCOMPARE(response.type, quint8(CommandType::Identity));
    const int id = value(QStringLiteral("SELECT id FROM machines WHERE name='O''Brien-PC'")).toInt();
    QVERIFY(id > 0);
    QCOMPARE(response.agentId, id);

    QSqlQuery row = SqlText(QStringLiteral("SELECT * FROM machines WHERE id=%1")).number(id).exec();
    QVERIFY(row.next());
    QCOMPARE(row.value(QStringLiteral("uuid")).toInt(), id);
    QCOMPARE(row.value(QStringLiteral("status")).toInt(), 1);
    QCOMPARE(row.value(QStringLiteral("peerip")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(row.value(QStringLiteral("port")).toInt(), 6722);
    QCOMPARE(row.value(QStringLiteral("agentType")).toInt(), 1);
    QVERIFY(qAbs(row.value(QStringLiteral("created_at")).toDateTime().secsTo(
                QDateTime::currentDateTime())) < 60);

    const QString before =
        value(QStringLiteral("SELECT name || peerip || status || coalesce(updated_at::text,'') "
                             "FROM machines WHERE id=%1").arg(id)).toString();
    Command ack = report(CommandType::Identity, ResultCode::Succeeded, QString());
    ack.agentId = 0;
    QVERIFY(link.send(ack));
    QVERIFY(link.closedByServer());
    QCOMPARE(value(QStringLiteral("SELECT name || peerip || status || "
                                  "coalesce(updated_at::text,'') FROM machines WHERE id=%1")
                       .arg(id))
                 .toString(),
             before);
    QCOMPARE(value(QStringLiteral("SELECT count(*) FROM job_machines")).toInt(), 0);
}

void TestAgentServer::unknownUuidCreatesRow()
{
    const Command response = exchange(hello(999999, QStringLiteral("PC-GONE")));
    QCOMPARE(response.type, quint8(CommandType::Identity));
    QVERIFY(response.agentId != 999999);
    QCOMPARE(value(QStringLiteral("SELECT uuid FROM machines WHERE name='PC-GONE'")).toInt(),
             response.agentId);
}

void TestAgentServer::knownUuidUpdatesRow()
{
    const int id = insertMachine(QStringLiteral("OLD"), 0, 1);
    SqlText(QStringLiteral("UPDATE machines SET peerip='10.9.9.9', status=7 WHERE id=%1"))
        .number(id)
        .exec();
    const Command response = exchange(hello(id, QStringLiteral("O'Neil;PC-7000"), 7000, 1));
    QCOMPARE(response.version, quint8(0)); // nothing pending: closed without a response
    QSqlQuery row = SqlText(QStringLiteral("SELECT * FROM machines WHERE id=%1")).number(id).exec();
    QVERIFY(row.next());
    QCOMPARE(row.value(QStringLiteral("name")).toString(), QStringLiteral("O'Neil;PC-7000"));
    QCOMPARE(row.value(QStringLiteral("peerip")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(row.value(QStringLiteral("port")).toInt(), 7000);
    QCOMPARE(row.value(QStringLiteral("agentType")).toInt(), 1);
    QCOMPARE(row.value(QStringLiteral("status")).toInt(), 1);
    QVERIFY(qAbs(row.value(QStringLiteral("updated_at")).toDateTime().secsTo(
                QDateTime::currentDateTime())) < 60);
    QCOMPARE(value(QStringLiteral("SELECT count(*) FROM machines")).toInt(), 1);
}

void TestAgentServer::semicolonInName()
{
    const Command response = exchange(hello(0, QStringLiteral("PC9;extra")));
    QCOMPARE(response.type, quint8(CommandType::Identity));
    QCOMPARE(value(QStringLiteral("SELECT name FROM machines WHERE id=%1").arg(response.agentId))
                 .toString(),
             QStringLiteral("PC9"));
}

void TestAgentServer::sameNameTwoIdentities()
{
    const Command first = exchange(hello(0, QStringLiteral("TWIN")));
    const Command second = exchange(hello(0, QStringLiteral("TWIN")));
    QCOMPARE(first.type, quint8(CommandType::Identity));
    QCOMPARE(second.type, quint8(CommandType::Identity));
    QVERIFY(first.agentId != second.agentId);
    for (int id : {first.agentId, second.agentId})
        QCOMPARE(value(QStringLiteral("SELECT uuid FROM machines WHERE id=%1").arg(id)).toInt(), id);
}

void TestAgentServer::pendingHandedOutInOrder()
{
    const int m = insertMachine(QStringLiteral("PC-ORDER"), 1);
    const int a1 = assign(insertJob(1, CommandType::CommandLine, 0, 0, QStringLiteral("echo one"), 6), m);
    const int a2 = assign(insertJob(1, CommandType::CommandLine, 0, 0, QStringLiteral("echo two"), 2), m);
    master->agentListener()->addPendingJobMachineId(
        {Job(QStringLiteral("127.0.0.1"), 0, a1, m), Job(QStringLiteral("127.0.0.1"), 0, a2, m)});
    // A second announcement of a pending assignment does not add it twice.
    master->agentListener()->addPendingJobMachineId({Job(QStringLiteral("127.0.0.1"), 0, a1, m)});
    QCOMPARE(master->agentListener()->pendingJobList().size(), 2);

    {
        AgentLink link(agentPort);
        QVERIFY(link.send(hello(m, QStringLiteral("PC-ORDER"))));
        Command response;
        QVERIFY(link.response(&response));
        QCOMPARE(response.type, quint8(CommandType::CommandLine));
        QCOMPARE(commandText(response), QStringLiteral("echo one"));
        QCOMPARE(value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(a1)).toInt(), 1);
        QString output = QStringLiteral("one\n\n") + QString(1500, QLatin1Char('x'));
        QVERIFY(link.send(report(CommandType::JobResult, ResultCode::Succeeded, output)));
        QVERIFY(link.closedByServer());
        QSqlQuery row = SqlText(QStringLiteral("SELECT * FROM job_machines WHERE id=%1")).number(a1).exec();
        QVERIFY(row.next());
        QCOMPARE(row.value(QStringLiteral("active")).toInt(), 2);
        QCOMPARE(row.value(QStringLiteral("status")).toInt(), 236);
        QCOMPARE(row.value(QStringLiteral("reportData")).toString(), output.left(1000));
    }
    {
        AgentLink link(agentPort);
        QVERIFY(link.send(hello(m, QStringLiteral("PC-ORDER"))));
        Command response;
        QVERIFY(link.response(&response));
        QCOMPARE(commandText(response), QStringLiteral("echo two"));
        QVERIFY(link.send(report(CommandType::JobResult, ResultCode::Failed, QStringLiteral("bad"))));
        QVERIFY(link.closedByServer());
        // A repeating assignment stays waiting for its next period.
        QSqlQuery row = SqlText(QStringLiteral("SELECT * FROM job_machines WHERE id=%1")).number(a2).exec();
        QVERIFY(row.next());
        QCOMPARE(row.value(QStringLiteral("active")).toInt(), 0);
        QCOMPARE(row.value(QStringLiteral("status")).toInt(), 237);
    }
    AgentLink link(agentPort);
    QVERIFY(link.send(hello(m, QStringLiteral("PC-ORDER"))));
    QVERIFY(link.closedByServer());
    QVERIFY(link.received.isEmpty());
}

void TestAgentServer::jobCheckFiltersAndEncodes()
{
    QUdpSocket agentUdp;
    QVERIFY(agentUdp.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const int m = insertMachine(QStringLiteral("PC-RULES"), 1, agentUdp.localPort());
    QString prm3;
    for (int i = 0; i < 150; ++i)
        prm3 += QChar(QLatin1Char(char('A' + i % 26)));
    const int mine = assign(insertJob(7, CommandType::MemoryRule, 80, 3, prm3, 6), m, 7);
    const int other = assign(insertJob(8, CommandType::CommandLine, 0, 0, QStringLiteral("ls"), 6), m, 8);

    master->jobCheck(-1);
    QCOMPARE(master->agentListener()->pendingJobList().size(), 2);
    master->agentListener()->cleanPendingJobMachineId();
    master->jobCheck(0);
    QCOMPARE(master->agentListener()->pendingJobList().size(), 2);
    master->agentListener()->cleanPendingJobMachineId();
    while (agentUdp.hasPendingDatagrams())
        agentUdp.receiveDatagram();

    master->jobCheck(7);
    QCOMPARE(master->agentListener()->pendingJobList().size(), 1);
    QCOMPARE(master->agentListener()->pendingJobList().first().jobMachineId, mine);
    QVERIFY(QTest::qWaitFor([&] { return agentUdp.hasPendingDatagrams(); }, 5000));
    Command packet;
    QVERIFY(decodeDatagram(agentUdp.receiveDatagram().data(), packet));
    QCOMPARE(packet.type, quint8(CommandType::BlindPacket));
    QCOMPARE(packet.reference, mine);
    QCOMPARE(packet.payload, QStringLiteral("BPacket"));

    AgentLink link(agentPort);
    QVERIFY(link.send(hello(m, QStringLiteral("PC-RULES"))));
    Command response;
    QVERIFY(link.response(&response));
    QCOMPARE(response.type, quint8(CommandType::MemoryRule));
    QCOMPARE(response.value, quint16(CommandType::MemoryRule));
    QCOMPARE(response.flag, quint8(3));
    QCOMPARE(encodeHeader(response).mid(14, 100), prm3.left(100).toLatin1());
    Q_UNUSED(other);
}

void TestAgentServer::immediateJobOnOfflineMachine()
{
    const int m = insertMachine(QStringLiteral("PC-OFF"), 0);
    const int immediate = assign(insertJob(1, CommandType::CommandLine, 0, 0, QStringLiteral("x"), 5), m);
    const int whenOnline = assign(insertJob(1, CommandType::CommandLine, 0, 0, QStringLiteral("y"), 6), m);
    master->jobCheck(-1);
    QVERIFY(master->agentListener()->pendingJobList().isEmpty());
    QSqlQuery row = SqlText(QStringLiteral("SELECT status, active FROM job_machines WHERE id=%1"))
                        .number(immediate)
                        .exec();
    QVERIFY(row.next());
    QCOMPARE(row.value(0).toInt(), 251);
    QCOMPARE(row.value(1).toInt(), 1);
    QCOMPARE(value(QStringLiteral("SELECT active FROM job_machines WHERE id=%1").arg(whenOnline)).toInt(), 0);

    SqlText(QStringLiteral("UPDATE machines SET status=1 WHERE id=%1")).number(m).exec();
    master->jobCheck(-1);
    QCOMPARE(master->agentListener()->pendingJobList().size(), 1);
    QCOMPARE(master->agentListener()->pendingJobList().first().jobMachineId, whenOnline);
}

static QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + 7) & 0xFF);
    return bytes;
}

void TestAgentServer::deploymentSendsInstallerBytes()
{
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("upload/App One")));
    const QByteArray content = pattern(250000);
    QFile installer(dir.filePath(QStringLiteral("upload/App One/setup.bin")));
    QVERIFY(installer.open(QIODevice::WriteOnly));
    installer.write(content);
    installer.close();
    SqlText(QStringLiteral("INSERT INTO applications (id, name, fileName, execName, "
                           "installSwitches) VALUES (3, 'App One', 'setup.bin', 'setup.bin', "
                           "'/quiet')"))
        .exec();
    const int m = insertMachine(QStringLiteral("PC-DEPLOY"), 1);
    const int a = assign(insertJob(1, CommandType::DeployWithSwitches, 1, 3, QString(), 5), m);
    master->agentListener()->addPendingJobMachineId({Job(QStringLiteral("127.0.0.1"), 0, a, m)});

    AgentLink link(agentPort);
    QVERIFY(link.send(hello(m, QStringLiteral("PC-DEPLOY"))));
    Command response;
    QByteArray payload;
    QVERIFY(link.response(&response, &payload));
    QCOMPARE(response.type, quint8(CommandType::DeployWithSwitches));
    QCOMPARE(response.value, quint16(1));
    QCOMPARE(response.flag, quint8(3));
    QCOMPARE(commandText(response), QStringLiteral("setup.bin<SPLITAG>setup.bin<SPLITAG>/quiet"));
    QCOMPARE(response.payloadLength, content.size());
    QCOMPARE(payload, content);
    QVERIFY(link.send(report(CommandType::JobResult, ResultCode::Succeeded, QString())));
    QVERIFY(link.closedByServer());
    QCOMPARE(value(QStringLiteral("SELECT status FROM job_machines WHERE id=%1").arg(a)).toInt(), 236);
}

void TestAgentServer::missingInstaller_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("logged");
    QTest::addRow("no application directory")
        << "Nowhere" << "setup.exe" << "Could not find installer in path: %1/upload/Nowhere";
    QTest::addRow("no installer file") << "Present" << "missing.exe" << "";
    QTest::addRow("name leaving upload")
        << "../outside" << "setup.exe" << "Refused installer outside the upload directory: "
                                          "%1/upload/../outside/setup.exe";
    QTest::addRow("file name leaving upload")
        << "Present" << "../../Server.ini" << "Refused installer outside the upload directory: "
                                             "%1/upload/Present/../../Server.ini";
}

void TestAgentServer::missingInstaller()
{
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    QFETCH(QString, logged);
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("upload/Present")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("outside")));
    QFile bait(dir.filePath(QStringLiteral("outside/setup.exe")));
    QVERIFY(bait.open(QIODevice::WriteOnly));
    bait.close();
    SqlText(QStringLiteral("INSERT INTO applications (id, name, fileName, execName) VALUES (9, "
                           "'%1', '%2', 'setup.exe')"))
        .text(name)
        .text(fileName)
        .exec();
    const int m = insertMachine(QStringLiteral("PC-MISSING"), 1);
    const int a = assign(insertJob(1, CommandType::Deploy, 0, 9, QString(), 6), m);
    master->agentListener()->addPendingJobMachineId({Job(QStringLiteral("127.0.0.1"), 0, a, m)});

    AgentLink link(agentPort);
    QVERIFY(link.send(hello(m, QStringLiteral("PC-MISSING"))));
    QVERIFY(link.closedByServer());
    QVERIFY(link.received.isEmpty());
    QSqlQuery row = SqlText(QStringLiteral("SELECT status, active FROM job_machines WHERE id=%1"))
                        .number(a)
                        .exec();
    QVERIFY(row.next());
    QCOMPARE(row.value(0).toInt(), 238);
    QCOMPARE(row.value(1).toInt(), 2);
    if (!logged.isEmpty())
        QVERIFY2(log.contains(logged.arg(QDir::currentPath())), qPrintable(log.join('\n')));
}

void TestAgentServer::newMachineGetsItsJobs()
{
    const int onEveryNew = insertJob(5, CommandType::CommandLine, 0, 0, QStringLiteral("hostname"), 8);
    const int rule = insertJob(5, CommandType::CpuRule, 90, 90, QString(), 6);
    insertJob(5, CommandType::CommandLine, 0, 0, QStringLiteral("not for new machines"), 6);

    AgentLink first(agentPort);
    QVERIFY(first.send(hello(0, QStringLiteral("PC-NEW"))));
    Command identity;
    QVERIFY(first.response(&identity));
    QCOMPARE(identity.type, quint8(CommandType::Identity));
    const int m = identity.agentId;
    QCOMPARE(value(QStringLiteral("SELECT count(*) FROM job_machines WHERE machine=%1").arg(m)).toInt(), 2);
    for (int job : {onEveryNew, rule}) {
        QSqlQuery row = SqlText(QStringLiteral("SELECT creator, active, status FROM job_machines "
                                               "WHERE machine=%1 AND job=%2"))
                            .number(m)
                            .number(job)
                            .exec();
        QVERIFY(row.next());
        QCOMPARE(row.value(0).toInt(), 5);
        QCOMPARE(row.value(1).toInt(), 0);
        QCOMPARE(row.value(2).toInt(), 235);
    }
    QVERIFY(first.send(report(CommandType::Identity, ResultCode::Succeeded, QString())));
    QVERIFY(first.closedByServer());

    // The new machine's own job waits for its next request, without a blind packet.
    const Command next = exchange(hello(m, QStringLiteral("PC-NEW")));
    QCOMPARE(next.type, quint8(CommandType::CommandLine));
    QCOMPARE(commandText(next), QStringLiteral("hostname"));
}

void TestAgentServer::handlersAreReleased()
{
    const int m = insertMachine(QStringLiteral("PC-MANY"), 1);
    for (int i = 0; i < 100; ++i)
        QCOMPARE(exchange(hello(m, QStringLiteral("PC-MANY"))).version, quint8(0));
    QTRY_COMPARE(Receiver::liveCount(), 0);
}

QTEST_GUILESS_MAIN(TestAgentServer)
#include "tst_agentserver.moc"
