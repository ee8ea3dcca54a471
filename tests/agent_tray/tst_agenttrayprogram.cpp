#include "agenttestutil.h"
#include "serverprocess.h"
#include "xvfbdisplay.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <unistd.h>

// The KelvarixAgent program as a desktop user runs it: on an X display with a notification
// area, against the server program on loopback, an administrator's inventory job given through
// the manager tool.
class TestAgentTrayProgram : public QObject
{
    Q_OBJECT
public:
    explicit TestAgentTrayProgram(XvfbDisplay *display) : display(display) {}

private slots:
    void initTestCase();
    void cleanupTestCase();
    void registersAndRunsAnInventoryJob();
    void noTrayShowsBoxAndExitsWithOne();

private:
    // The manager tool with the server's configuration; its exit code and standard output.
    int manager(const QStringList &arguments, QString *output = nullptr);
    // Starts the program with its configuration in `dir` on `displayName`.
    void startAgent(QProcess &agent, const QString &dir, const QString &displayName);

    XvfbDisplay *display;
    QTemporaryDir serverDir;
    QTemporaryDir xdgDir;
    std::unique_ptr<ServerProcess> server;
    int serverAgentPort = 0;
    QString adminId = QStringLiteral("1");
};

void TestAgentTrayProgram::initTestCase()
{
    QVERIFY(serverDir.isValid() && xdgDir.isValid());
    QStringList ports;
    QVERIFY(ServerProcess::writeSqliteSetup(serverDir.path(), &ports));
    serverAgentPort = ServerProcess::portIn(ports, QStringLiteral("ServerAgentPort"));
    server.reset(new ServerProcess(serverDir.path()));
    QVERIFY(server->start());
    QVERIFY2(server->waitForMessage(QStringLiteral("Kelvarix Server is running .....")),
             qPrintable(server->output()));
    QString output;
    QCOMPARE(manager({QStringLiteral("add-user"), QStringLiteral("desktop")}, &output), 0);
    const QRegularExpressionMatch user =
        QRegularExpression(QStringLiteral("^user (\\d+)$"), QRegularExpression::MultilineOption)
            .match(output);
    QVERIFY2(user.hasMatch(), qPrintable(output));
    adminId = user.captured(1);
}

void TestAgentTrayProgram::cleanupTestCase()
{
    if (server)
        server->stop();
}

int TestAgentTrayProgram::manager(const QStringList &arguments, QString *output)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QStringLiteral(MANAGER_TOOL_PROGRAM),
               QStringList{QStringLiteral("--config-dir"), serverDir.path(),
                           QStringLiteral("--user"), adminId} +
                   arguments);
    if (!tool.waitForFinished(330000) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = QString::fromUtf8(tool.readAllStandardOutput());
    return tool.exitCode();
}

void TestAgentTrayProgram::startAgent(QProcess &agent, const QString &dir,
                                      const QString &displayName)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), displayName);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Where the program records its path: a directory of the test's own.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), xdgDir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), xdgDir.filePath(QStringLiteral("etc")));
    env.remove(QStringLiteral("INVPROBE_REGISTRY"));
    env.remove(QStringLiteral("INVPROBE_FIXTURE"));
    agent.setProcessEnvironment(env);
    agent.start(QStringLiteral(AGENT_TRAY_PROGRAM), {QStringLiteral("--config-dir"), dir});
}

void TestAgentTrayProgram::registersAndRunsAnInventoryJob()
{
    QTemporaryDir agentDir;
    const int agentPort = freeUdpPort();
    QVERIFY(writeTextFile(
        agentDir.filePath(QStringLiteral("Agent.ini")),
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(serverAgentPort) +
            "\nAgentPort=" + QByteArray::number(agentPort) +
            "\nNegotiateOnStartup=1\nShowMainWindow=1\nPollServer=0\n"));
    QProcess agent;
    agent.setProcessChannelMode(QProcess::ForwardedChannels);
    startAgent(agent, agentDir.path(), display->display());
    QVERIFY2(agent.waitForStarted(10000), qPrintable(agent.errorString()));

    QString output;
    QCOMPARE(
        manager({QStringLiteral("wait-machine"), QStringLiteral("--port"),
                 QString::number(agentPort), QStringLiteral("--timeout"), QStringLiteral("30")},
                &output),
        0);
    const QString machine = output.trimmed();
    QVERIFY2(machine.toInt() > 0, qPrintable(output));

    // Every section of the machine's inventory, run at once, read by the real probes.
    QCOMPARE(
        manager({QStringLiteral("add-job"), QStringLiteral("--cmd"), QStringLiteral("inventory"),
                 QStringLiteral("--text"), QStringLiteral("1111111111"),
                 QStringLiteral("--schedule"), QStringLiteral("immediately"), machine},
                &output),
        0);
    const QRegularExpressionMatch job =
        QRegularExpression(QStringLiteral("^job (\\d+)$"), QRegularExpression::MultilineOption)
            .match(output);
    QVERIFY2(job.hasMatch(), qPrintable(output));
    QCOMPARE(manager({QStringLiteral("job-check")}), 0);
    QCOMPARE(manager({QStringLiteral("wait-job"), job.captured(1), QStringLiteral("--timeout"),
                      QStringLiteral("300")}),
             0);

    const QString logFile = agentDir.filePath(QStringLiteral("Agent.log"));
    QTRY_VERIFY(readTextFile(logFile).contains(" - Inventory Execution\n"));
    QTRY_VERIFY(readTextFile(logFile).contains(" - Command Executed\n"));
    QCOMPARE(manager({QStringLiteral("machine"), machine}, &output), 0);
    QVERIFY2(output.contains(QLatin1String("\nInventory time: ")), qPrintable(output));

    // The program recorded itself for the start-up entry, in the place for this account.
    const QString base =
        xdgDir.filePath(::geteuid() == 0 ? QStringLiteral("etc") : QStringLiteral("home"));
    const QByteArray recorded = readTextFile(base + QLatin1String("/kelvarix/zvn-agent.conf"));
    const QByteArray program =
        QFileInfo(QStringLiteral(AGENT_TRAY_PROGRAM)).canonicalFilePath().toUtf8();
    QVERIFY2(recorded.contains("\nApplicationPath=" + program + '\n'), recorded.constData());

    // The window shows the log; a look at it as its user would.
    const QString shot = XvfbDisplay::outputDir() + QStringLiteral("/agent-program-window.png");
    QFile::remove(shot);
    QVERIFY(display->screenshot(shot));

    // A session's end stops the program as Exit does: cleanly, with exit code 0.
    ::kill(pid_t(agent.processId()), SIGTERM);
    QVERIFY(agent.waitForFinished(20000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 0);
}

void TestAgentTrayProgram::noTrayShowsBoxAndExitsWithOne()
{
    XvfbDisplay bare;
    QVERIFY2(bare.start(false), qPrintable(bare.errorText()));
    QTemporaryDir agentDir;
    QVERIFY(writeTextFile(
        agentDir.filePath(QStringLiteral("Agent.ini")),
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(serverAgentPort) +
            "\nNegotiateOnStartup=1\nPollServer=0\n"));
    QProcess agent;
    startAgent(agent, agentDir.path(), bare.display());
    QVERIFY(agent.waitForStarted(10000));
    agent.setReadChannel(QProcess::StandardError);
    QByteArray errors;
    // The program waits a while for a notification area to appear before it gives up.
    while (!errors.contains("couldn't detect any system tray") && agent.waitForReadyRead(30000))
        errors += agent.readAllStandardError();
    QVERIFY2(errors.contains("KelvarixAgent: I couldn't detect any system tray on this system."),
             errors.constData());
    const QString shot = XvfbDisplay::outputDir() + QStringLiteral("/agent-no-tray.png");
    QFile::remove(shot);
    QTRY_VERIFY(bare.screenshot(shot) && QFileInfo(shot).size() > 0);
    // The box is up; ending the program closes it and the program reports the failure.
    agent.terminate();
    QVERIFY(agent.waitForFinished(10000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 1);
    // The agent itself never started.
    QVERIFY(!QFile::exists(agentDir.filePath(QStringLiteral("Agent.log"))));
}

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.start(true))
        return XvfbDisplay::unavailable(display.errorText());
    QCoreApplication app(argc, argv);
    TestAgentTrayProgram test(&display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_agenttrayprogram.moc"
