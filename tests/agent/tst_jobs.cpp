#include "agent.h"
#include "agenttestutil.h"
#include "inventorydocument.h"
#include "receiver.h"
#include "serversender.h"
#include "testagentserver.h"
#include "zipwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// Jobs run by an agent for a loopback server: real processes, real files, the fixture probes.
class TestJobs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void commandLine_data();
    void commandLine();
    void detachedCommandLine();
    void inventory_data();
    void inventory();
    void deployment_data();
    void deployment();
    void deploymentStartedThroughShell();
    void removal_data();
    void removal();
    void processJobOnAlarmConnection();
    void serverGoneDuringJob();

private:
    // Runs one job through an agent and returns its report.
    Command runJob(quint8 type, const QString &text, quint16 value = 0,
                   const QString &file = QString());
    QString writeScript(const QString &path, const QByteArray &body);
    void prependPath(const QString &dir);

    QTemporaryDir workDir;
    QTemporaryDir fixtures;
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<TestAgentServer> server;
    QScopedPointer<Agent> agent;
    QStringList agentLog;
    QByteArray originalPath;
    QJsonObject machine;
};

void TestJobs::initTestCase()
{
    registerCommandMetaType();
    QVERIFY(QDir::setCurrent(workDir.path()));
    QFile fixture(QStringLiteral(AGENT_FIXTURE_DIR "/inventory.json"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    machine = QJsonDocument::fromJson(fixture.readAll()).object();
    originalPath = qgetenv("PATH");
}

void TestJobs::init()
{
    dir.reset(new QTemporaryDir);
    server.reset(new TestAgentServer);
    QVERIFY(server->start());
    agentLog.clear();
    const QString path = fixtures.filePath(QStringLiteral("machine.json"));
    QVERIFY(writeTextFile(path, QJsonDocument(machine).toJson()));
    qputenv("INVPROBE_FIXTURE", path.toLocal8Bit());
}

void TestJobs::cleanup()
{
    agent.reset();
    QTRY_COMPARE(Sender::liveCount(), 0);
    // The server's connection objects point at it; they go first.
    QTRY_COMPARE(Receiver::liveCount(), 0);
    server.reset();
    qputenv("PATH", originalPath);
    qunsetenv("INVPROBE_REGISTRY");
}

Command TestJobs::runJob(quint8 type, const QString &text, quint16 value, const QString &file)
{
    server->policy = [=](const Command &, int index) {
        if (index > 0)
            return TestAgentServer::close();
        TestAgentServer::Answer a = TestAgentServer::respond(type);
        setCommandText(a.response, text);
        a.response.value = value;
        a.file = file;
        return a;
    };
    const QByteArray ini =
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(server->serverPort()) +
        "\nPollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n";
    writeTextFile(dir->filePath(QStringLiteral("Agent.ini")), ini);
    agent.reset(new Agent(true, dir->path()));
    connect(agent.data(), &Agent::writeUiLogSignal, this, [this](const QString &line) {
        agentLog << line.mid(line.indexOf(" - ") + 3).chopped(1);
    });
    agent->startUp();
    if (!QTest::qWaitFor([&] { return !server->reports.isEmpty(); }, 20000))
        return Command();
    return server->reports.first();
}

QString TestJobs::writeScript(const QString &path, const QByteArray &body)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write("#!/bin/sh\n" + body) < 0)
        return QString();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
    return path;
}

void TestJobs::prependPath(const QString &dir)
{
    qputenv("PATH", dir.toLocal8Bit() + ':' + originalPath);
}

void TestJobs::commandLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("logLine");
    QTest::addRow("output") << "echo hello" << 236 << "hello\n\n"
                            << "Command Executed";
    QTest::addRow("output and error output")
        << "sh -c \"echo out; echo err >&2\"" << 236 << "out\n\nerr\n"
        << "Command Executed";
    QTest::addRow("exit code not looked at") << "sh -c \"exit 3\"" << 236 << "\n"
                                             << "Command Executed";
    QTest::addRow("input ends at once") << "cat" << 236 << "\n"
                                        << "Command Executed";
    QTest::addRow("no such program")
        << "kelvarix-no-such-program -x" << 237 << "FailedTostart Error"
        << "Process Error: FailedTostart Error";
    QTest::addRow("empty") << "" << 237 << "FailedTostart Error"
                           << "Process Error: FailedTostart Error";
    QTest::addRow("crash reported once") << "sh -c \"kill -SEGV $$\"" << 237 << "Crash Error"
                                         << "Process Error: Crash Error";
    // The interpreter does not exist here, so the detached start honestly fails.
    QTest::addRow("detached start that fails") << " cmd.exe /c dir" << 237 << "FailedTostart Error"
                                               << "Process Error: FailedTostart Error";
    QTest::addRow("capital C is not detached") << "Cmd.exe /c dir" << 237 << "FailedTostart Error"
                                               << "Process Error: FailedTostart Error";
}

void TestJobs::commandLine()
{
    QFETCH(QString, text);
    QFETCH(int, result);
    QFETCH(QString, payload);
    QFETCH(QString, logLine);
    const Command report = runJob(CommandType::CommandLine, text);
    QCOMPARE(int(report.type), 14);
    QCOMPARE(int(report.value), result);
    QCOMPARE(report.payload, payload);
    QCOMPARE(report.payloadLength, payload.size());
    QTRY_COMPARE(Sender::liveCount(), 0);
    QCOMPARE(server->reports.size(), 1);
    QVERIFY(agentLog.contains("Command Line Execution: " + text));
    QVERIFY2(agentLog.contains(logLine), qPrintable(agentLog.join('\n')));
    // Any finished job asks for the next one.
    QCOMPARE(server->requests.size(), 2);
}

// A command line for the Windows interpreter is started and not waited for.
void TestJobs::detachedCommandLine()
{
    QTemporaryDir bin;
    const QString marker = bin.filePath(QStringLiteral("ran"));
    QVERIFY(!writeScript(bin.filePath(QStringLiteral("cmd.exe")),
                         "sleep 1; echo \"$@\" > '" + marker.toUtf8() + "'\n")
                 .isEmpty());
    prependPath(bin.path());
    const Command report = runJob(CommandType::CommandLine, QStringLiteral("  cmd.exe /c dir"));
    QCOMPARE(int(report.value), 236);
    QCOMPARE(report.payload, QString());
    // Reported before the program finished.
    QVERIFY(!QFile::exists(marker));
    QTRY_COMPARE_WITH_TIMEOUT(readTextFile(marker), QByteArray("/c dir\n"), 10000);
}

void TestJobs::inventory_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("failingClass");
    QTest::addRow("hardware") << "1000"
                              << "";
    QTest::addRow("monitoring") << "0001"
                                << "";
    QTest::addRow("hardware and monitoring") << "1001"
                                             << "";
    QTest::addRow("five flags") << "11111"
                                << "";
    QTest::addRow("a probe fails") << "1001"
                                   << "Win32_PerfFormattedData_PerfOS_Memory";
}

void TestJobs::inventory()
{
    QFETCH(QString, flags);
    QFETCH(QString, failingClass);
    const QString registry = fixtures.filePath(QStringLiteral("registry.json"));
    QVERIFY(writeTextFile(registry, R"({"uninstall": [{"key": "e", "DisplayName": "Éditeur",
        "DisplayVersion": "1.0"}], "run": {}})"));
    qputenv("INVPROBE_REGISTRY", registry.toLocal8Bit());
    const QString expected = inventoryDocument(flags);
    QVERIFY(!expected.isEmpty());
    if (!failingClass.isEmpty()) {
        QJsonObject broken = machine;
        broken.insert(QStringLiteral("failQueries"), QJsonArray{failingClass});
        QVERIFY(writeTextFile(qEnvironmentVariable("INVPROBE_FIXTURE"),
                              QJsonDocument(broken).toJson()));
    }
    const Command report = runJob(CommandType::Inventory, flags);
    QCOMPARE(int(report.type), 15);
    QVERIFY(agentLog.contains(QStringLiteral("Inventory Execution")));
    if (!failingClass.isEmpty()) {
        QCOMPARE(int(report.value), 237);
        QCOMPARE(report.payloadLength, 0);
        QVERIFY(agentLog.contains(QStringLiteral("Process Error")));
        return;
    }
    QCOMPARE(int(report.value), 236);
    // The document travels as UTF-8, one character per byte.
    const QByteArray utf8 = expected.toUtf8();
    QCOMPARE(report.payload, QString::fromLatin1(utf8.constData(), utf8.size()));
    QCOMPARE(report.payloadLength, utf8.size());
    QCOMPARE(report.payload.count(QLatin1String("<Monitor_Disk>")),
             flags.startsWith('1') || flags.mid(3, 1) == "1" ? 1 : 0);
    QVERIFY(agentLog.contains(QStringLiteral("Command Executed")));
}

void TestJobs::deployment_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("payload");
    QTest::addRow("zip, program run by the agent")
        << 3 << "pack.zip<SPLITAG>setup.sh<SPLITAG>" << 236 << "installed\n\n";
    QTest::addRow("zip in capitals, with switches")
        << 19 << "PACK.ZIP<SPLITAG>setup.sh<SPLITAG>/S --quiet" << 236
        << "installed /S --quiet\n\n";
    QTest::addRow("program missing from the package")
        << 3 << "pack.zip<SPLITAG>other.sh<SPLITAG>" << 237 << "FailedTostart Error";
    QTest::addRow("text cut before the program") << 3 << "pack.zip" << 237 << "FailedTostart Error";
    QTest::addRow("package name climbing out")
        << 3 << "../pack.zip<SPLITAG>setup.sh<SPLITAG>" << 237 << "";
    QTest::addRow("program name climbing out")
        << 3 << "pack.zip<SPLITAG>../../setup.sh<SPLITAG>" << 237 << "";
    QTest::addRow("absolute program") << 3 << "pack.zip<SPLITAG>/bin/sh<SPLITAG>" << 237 << "";
    QTest::addRow("empty text") << 3 << "" << 237 << "";
}

// The server sends a real zip holding a small script; the agent unpacks and runs it (value 1).
void TestJobs::deployment()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(int, result);
    QFETCH(QString, payload);
    ZipWriter zip;
    zip.add(QStringLiteral("setup.sh"), "#!/bin/sh\necho \"installed${*:+ $*}\"\n", 0755);
    const QString file = dir->filePath(QStringLiteral("package.bin"));
    QVERIFY(zip.write(file));
    const QDir upload(QStringLiteral("upload"));
    const QStringList before = upload.entryList(QDir::Dirs | QDir::NoDotAndDotDot);

    const Command report = runJob(quint8(type), text, 1, file);
    QCOMPARE(int(report.type), 14);
    QCOMPARE(int(report.value), result);
    QCOMPARE(report.payload, payload);
    QVERIFY(agentLog.contains(QStringLiteral("Start deployment")));
    QVERIFY(!QFile::exists(QStringLiteral("pack.zip")));
    QVERIFY(!QFile::exists(QStringLiteral("setup.sh")));

    const QStringList after = upload.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    // Whatever happened, no received file is left behind under its temporary name.
    QVERIFY(upload.entryList({QStringLiteral("*.tmp")}).isEmpty());
    if (payload.isEmpty()) {
        // Refused before anything was placed.
        QCOMPARE(after, before);
        QCOMPARE(agentLog.filter(QStringLiteral("Refused deployment")).size(), 1);
        return;
    }
    QCOMPARE(after.size(), before.size() + 1);
    QString fresh;
    for (const QString &d : after)
        if (!before.contains(d))
            fresh = upload.absoluteFilePath(d);
    QVERIFY(QFile::exists(fresh + '/' + text.section(QStringLiteral("<SPLITAG>"), 0, 0)));
    QVERIFY(QFile::exists(fresh + QStringLiteral("/setup.sh")));
    if (result == 236)
        QVERIFY2(
            agentLog.contains(fresh + "/setup.sh " + text.section(QStringLiteral("<SPLITAG>"), 2)),
            qPrintable(agentLog.join('\n')));
}

// Without value 1 the program is started through the shell and the server ends the exchange.
void TestJobs::deploymentStartedThroughShell()
{
    const QString marker = dir->filePath(QStringLiteral("installed"));
    ZipWriter zip;
    zip.add(QStringLiteral("setup.sh"), "#!/bin/sh\necho \"$@\" > '" + marker.toUtf8() + "'\n",
            0755);
    zip.add(QStringLiteral("product.msi"), "not really an installer");
    const QString file = dir->filePath(QStringLiteral("package.bin"));
    QVERIFY(zip.write(file));

    Command report = runJob(CommandType::DeployWithSwitches,
                            QStringLiteral("pack.zip<SPLITAG>setup.sh<SPLITAG>/S"), 0, file);
    QCOMPARE(int(report.value), 236);
    QCOMPARE(report.payload, QString());
    QTRY_COMPARE(readTextFile(marker), QByteArray("/S\n"));
    QTRY_COMPARE(Sender::liveCount(), 0);
    // A shell start asks for no further contact.
    QCOMPARE(server->requests.size(), 1);

    // The Windows installer does not exist here: reported as not started.
    cleanup();
    init();
    const QString again = dir->filePath(QStringLiteral("package.bin"));
    QVERIFY(zip.write(again));
    report = runJob(CommandType::Deploy, QStringLiteral("pack.zip<SPLITAG>product.msi<SPLITAG>"), 1,
                    again);
    QCOMPARE(int(report.value), 237);
}

void TestJobs::removal_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QByteArray>("arguments");
    QTest::addRow("program below a directory with blanks")
        << 20 << "Tool Suite<SPLITAG>-q" << 236 << "@/My Tools/uninst.sh --purge -q"
        << QByteArray("--purge -q\n");
    QTest::addRow("no extra switches")
        << 18 << "Tool Suite<SPLITAG>" << 236 << "@/My Tools/uninst.sh --purge "
        << QByteArray("--purge\n");
    QTest::addRow("installer install turned into remove")
        << 20 << "Office Pack<SPLITAG>/quiet" << 236 << "MsiExec.exe /x{90120000} /quiet"
        << QByteArray("/x{90120000} /quiet\n");
    QTest::addRow("no match") << 20 << "Nothing Such<SPLITAG>-q" << 237
                              << "No package found or Execution failed" << QByteArray();
    QTest::addRow("uninstaller gone") << 18 << "Old Thing<SPLITAG>" << 237
                                      << "No package found or Execution failed" << QByteArray();
}

// Removals over the fixture software list; the programs record how they were started.
void TestJobs::removal()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(int, result);
    QFETCH(QString, payload);
    QFETCH(QByteArray, arguments);
    QTemporaryDir root;
    const QString marker = root.filePath(QStringLiteral("removed"));
    const QByteArray record = "echo \"$@\" > '" + marker.toUtf8() + "'\n";
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("My Tools")));
    QVERIFY(!writeScript(root.filePath(QStringLiteral("My Tools/uninst.sh")), record).isEmpty());
    // The Windows installer's name, on the search path, stands in for it.
    QVERIFY(!writeScript(root.filePath(QStringLiteral("MsiExec.exe")), record).isEmpty());
    prependPath(root.path());

    QJsonArray entries{QJsonObject{{"key", "tools"},
                                   {"DisplayName", "Tool Suite 2.0"},
                                   {"UninstallString",
                                    QString("\"" + root.path() + "/My Tools/uninst.sh\" --purge")}},
                       QJsonObject{{"key", "office"},
                                   {"DisplayName", "Office Pack"},
                                   {"UninstallString", "MsiExec.exe /I{90120000}"}},
                       QJsonObject{{"key", "old"},
                                   {"DisplayName", "Old Thing"},
                                   {"UninstallString", QString(root.path() + "/gone/uninstall")}}};
    const QString registry = fixtures.filePath(QStringLiteral("registry.json"));
    QVERIFY(writeTextFile(
        registry,
        QJsonDocument(QJsonObject{{"uninstall", entries}, {"run", QJsonObject()}}).toJson()));
    qputenv("INVPROBE_REGISTRY", registry.toLocal8Bit());

    const Command report = runJob(quint8(type), text);
    QCOMPARE(int(report.type), 14);
    QCOMPARE(int(report.value), result);
    QCOMPARE(report.payload, QString(payload).replace('@', root.path()));
    QCOMPARE(report.payloadLength, report.payload.size());
    QVERIFY(agentLog.contains(QStringLiteral("Un-Deploy application")));
    if (!arguments.isEmpty())
        QTRY_COMPARE(readTextFile(marker), arguments);
    else
        QVERIFY(!QFile::exists(marker));
}

// The worker's connections run no programs; a job that needs one is refused there.
void TestJobs::processJobOnAlarmConnection()
{
    server->policy = [](const Command &, int) {
        TestAgentServer::Answer a = TestAgentServer::respond(CommandType::CommandLine);
        setCommandText(a.response, QStringLiteral("echo hello"));
        return a;
    };
    new ServerSender(7, QStringLiteral("127.0.0.1"), server->serverPort(),
                     QStringLiteral("<document/>"), 0, false, nullptr);
    QTRY_COMPARE(server->reports.size(), 1);
    QCOMPARE(int(server->requests[0].type), 32);
    QCOMPARE(int(server->reports[0].value), 237);
    QTRY_COMPARE(Sender::liveCount(), 0);
}

// A job whose server went away is ended, and its connection released, without a report.
void TestJobs::serverGoneDuringJob()
{
    server->policy = [](const Command &, int index) {
        if (index > 0)
            return TestAgentServer::close();
        TestAgentServer::Answer a = TestAgentServer::respond(CommandType::CommandLine);
        setCommandText(a.response, QStringLiteral("sleep 20"));
        a.closeAfterResponse = true;
        return a;
    };
    writeTextFile(
        dir->filePath(QStringLiteral("Agent.ini")),
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(server->serverPort()) +
            "\nPollServer=1\nTimerPeriod=3600000\nNegotiateOnStartup=1\n");
    agent.reset(new Agent(true, dir->path()));
    agent->startUp();
    QTRY_COMPARE(server->requests.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(Sender::liveCount(), 0, 10000);
    QCOMPARE(server->reports.size(), 0);
}

QTEST_GUILESS_MAIN(TestJobs)
#include "tst_jobs.moc"
