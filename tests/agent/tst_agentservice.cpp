#include "agenttestutil.h"
#include "testagentserver.h"
#include "zipwriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

// The service program as a real process, the way systemd runs it: registers, keeps its
// identity, wakes on blind packets, and ends with 0 on SIGTERM.
class TestAgentService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void registersWakesAndRestarts();
    void installsUnit();

private:
    QString installProgram(const QTemporaryDir &dir) const;
    void startAgent(QProcess &process, const QString &program);
    void terminate(QProcess &process);
};

void TestAgentService::initTestCase()
{
    registerCommandMetaType();
    QVERIFY(QFile::exists(QStringLiteral(AGENT_SERVICE_PROGRAM)));
}

// The agent reads its files beside the program, so each test runs its own copy.
QString TestAgentService::installProgram(const QTemporaryDir &dir) const
{
    const QString program = dir.filePath(QStringLiteral("KelvarixAgentService"));
    if (!QFile::copy(QStringLiteral(AGENT_SERVICE_PROGRAM), program))
        return QString();
    return program;
}

void TestAgentService::startAgent(QProcess &process, const QString &program)
{
    // Started from elsewhere, as a service manager would; it must still work beside itself.
    process.setWorkingDirectory(QDir::tempPath());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList());
    QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
}

void TestAgentService::terminate(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void TestAgentService::registersWakesAndRestarts()
{
    QTemporaryDir dir;
    const QString program = installProgram(dir);
    QVERIFY(!program.isEmpty());
    TestAgentServer server;
    QVERIFY(server.start());
    const quint16 udp = freeUdpPort();
    QVERIFY(writeTextFile(
        dir.filePath(QStringLiteral("Agent.ini")),
        "[Client]\nAddress = 127.0.0.1\nServerPort=" + QByteArray::number(server.serverPort()) +
            "\nAgentPort=" + QByteArray::number(udp) + "\nPollServer=0\nNegotiateOnStartup=1\n"));
    server.policy = [](const Command &request, int) {
        return request.agentId == 0 ? TestAgentServer::respond(CommandType::Identity, 42)
                                    : TestAgentServer::close();
    };

    QProcess agent;
    startAgent(agent, program);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests.size() == 2, 20000);
    QCOMPARE(server.requests[0].agentId, 0);
    QCOMPARE(server.requests[1].agentId, 42);
    QCOMPARE(server.reports.size(), 1);
    QCOMPARE(int(server.reports[0].value), 236);
    QCOMPARE(readTextFile(dir.filePath(QStringLiteral("Agent.key"))),
             QByteArray("[Client]\nUUID=42"));

    Command blind;
    initCommand(blind, 1, CommandType::BlindPacket, 0);
    blind.payload = QStringLiteral("BPacket");
    blind.payloadLength = 7;
    // A paused service keeps listening.
    ::kill(pid_t(agent.processId()), SIGUSR1);
    QUdpSocket wake;
    QVERIFY(wake.bind(QHostAddress(QHostAddress::LocalHost), 0));
    wake.writeDatagram(encodeDatagram(blind), QHostAddress::LocalHost, udp);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests.size() == 3, 20000);
    QCOMPARE(server.requests[2].agentId, 42);
    QCOMPARE(int(server.requests[2].flag), 1);
    terminate(agent);
    const QByteArray output = agent.readAll();
    QVERIFY2(output.contains("BlindPacket listening: 0.0.0.0:" + QByteArray::number(udp)),
             output.constData());
    QVERIFY(readTextFile(dir.filePath(QStringLiteral("Agent.log"))).contains("Discovery CMD"));
    // Stopping leaves no thread or timer behind to complain about.
    QVERIFY2(!output.contains("QObject::") && !output.contains("QThread"), output.constData());

    // Restarted: same identity; a zip deployment unpacks beside the program and runs its
    // script; and SIGTERM with the server still holding the connection ends the process cleanly.
    const QString package = dir.filePath(QStringLiteral("package.bin"));
    ZipWriter zip;
    zip.add(QStringLiteral("setup.sh"), "#!/bin/sh\necho \"installed $*\"\n", 0755);
    QVERIFY(zip.write(package));
    server.policy = [&](const Command &, int) {
        TestAgentServer::Answer a =
            TestAgentServer::respond(CommandType::DeployWithSwitches, 0, true);
        setCommandText(a.response, QStringLiteral("Pack.Zip<SPLITAG>setup.sh<SPLITAG>--quiet"));
        a.response.value = 1;
        a.file = package;
        return a;
    };
    QProcess again;
    startAgent(again, program);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests.size() == 4, 20000);
    QCOMPARE(server.requests[3].agentId, 42);
    QTRY_VERIFY_WITH_TIMEOUT(server.reports.size() == 2, 20000);
    QCOMPARE(int(server.reports[1].value), 236);
    QCOMPARE(server.reports[1].payload, QStringLiteral("installed --quiet\n\n"));
    const QDir upload(dir.filePath(QStringLiteral("upload")));
    const QStringList fresh = upload.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(fresh.size(), 1);
    QVERIFY(QFile::exists(upload.filePath(fresh[0] + QStringLiteral("/Pack.Zip"))));
    QVERIFY(QFile::exists(upload.filePath(fresh[0] + QStringLiteral("/setup.sh"))));
    terminate(again);
}

void TestAgentService::installsUnit()
{
    QTemporaryDir dir;
    QTemporaryDir units;
    const QString program = installProgram(dir);
    QVERIFY(!program.isEmpty());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KELVARIX_SYSTEMD_UNIT_DIR"), units.path());

    QProcess install;
    install.setProcessEnvironment(env);
    install.start(program, {QStringLiteral("--install")});
    QVERIFY(install.waitForFinished(20000));
    QCOMPARE(install.exitCode(), 0);
    const QString unitPath = units.filePath(QStringLiteral("kelvarix-agent.service"));
    const QByteArray unit = readTextFile(unitPath);
    QVERIFY2(unit.contains("ExecStart=" + program.toUtf8() + '\n'), unit.constData());
    QVERIFY(unit.contains("WorkingDirectory=" + dir.path().toUtf8() + '\n'));
    QVERIFY(unit.contains("Description=Kelvarix Agent Service\n"));

    QProcess uninstall;
    uninstall.setProcessEnvironment(env);
    uninstall.start(program, {QStringLiteral("--uninstall")});
    QVERIFY(uninstall.waitForFinished(20000));
    QCOMPARE(uninstall.exitCode(), 0);
    QVERIFY(!QFile::exists(unitPath));

    QProcess version;
    version.start(program, {QStringLiteral("--version")});
    QVERIFY(version.waitForFinished(20000));
    QCOMPARE(version.exitCode(), 0);
    QVERIFY(version.readAllStandardOutput().startsWith("Kelvarix Agent Service "));
}

QTEST_GUILESS_MAIN(TestAgentService)
#include "tst_agentservice.moc"
