#include "ctlcommand.h"
#include "postgrescontrol.h"
#include "processcheck.h"
#include "serverlayout.h"
#include "servertools.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

// The tool layer's paths, readers and process handling, without PostgreSQL or Apache.
class TestServerTools : public QObject
{
    Q_OBJECT
private slots:
    void baseDir_data();
    void baseDir();
    void servicesIni();
    void serviceStates_data();
    void serviceStates();
    void pidFromOutput_data();
    void pidFromOutput();
    void managerAddress_data();
    void managerAddress();
    void clusterSettingsReplaceTheirBlock();
    void pidFilesNameOnlyLiveProcessesOfThatName();
    void serverCommandsReachOnlyTheServer();
    void killRefusesIdsBelowOne_data();
    void killRefusesIdsBelowOne();
    void killEndsOneProcess();

private:
    static QString ctl();
    static int runCtl(const QStringList &arguments, QString *out = nullptr, QString *err = nullptr);
    // A long-running process whose command name is the given one (a copy of sleep).
    static bool startNamed(QProcess &process, const QString &dir, const QString &name);
    static bool writePid(const QString &file, qint64 pid);
};

QString TestServerTools::ctl()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/kelvarix-ctl");
}

int TestServerTools::runCtl(const QStringList &arguments, QString *out, QString *err)
{
    QProcess process;
    process.start(ctl(), arguments);
    if (!process.waitForFinished(30000))
        return -1;
    if (out)
        *out = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (err)
        *err = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitCode();
}

bool TestServerTools::startNamed(QProcess &process, const QString &dir, const QString &name)
{
    const QString program = dir + QLatin1Char('/') + name;
    if (!QFile::exists(program) && !QFile::copy(QStringLiteral("/bin/sleep"), program))
        return false;
    process.start(program, {QStringLiteral("60")});
    return process.waitForStarted(10000);
}

bool TestServerTools::writePid(const QString &file, qint64 pid)
{
    QFile pidFile(file);
    return pidFile.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           pidFile.write(QByteArray::number(pid) + '\n') > 0;
}

void TestServerTools::baseDir_data()
{
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("baseDir");
    QTest::addRow("installed") << "/opt/kelvarix-server/kelvarix"
                               << "/opt/kelvarix-server";
    // Only the programs' own folder goes: a base named kelvarix... keeps its name.
    QTest::addRow("base named kelvarix") << "/opt/kelvarix/kelvarix"
                                         << "/opt/kelvarix";
    QTest::addRow("trailing slash") << "/srv/kx/kelvarix/"
                                    << "/srv/kx";
    QTest::addRow("not in a layout") << "/home/dev/build/bin"
                                     << "/home/dev/build/bin";
    QTest::addRow("folder only ends alike") << "/opt/x/mykelvarix"
                                            << "/opt/x/mykelvarix";
}

void TestServerTools::baseDir()
{
    QFETCH(QString, programDir);
    QFETCH(QString, baseDir);
    const ServerLayout layout(programDir);
    QCOMPARE(layout.baseDir(), baseDir);
    QCOMPARE(layout.clusterDir(), baseDir + QStringLiteral("/postgresql/data"));
    QCOMPARE(layout.httpdConfFile(), baseDir + QStringLiteral("/httpd/conf/httpd.conf"));
    QCOMPARE(layout.railsPidScript(), baseDir + QStringLiteral("/bin/rails_pid"));
}

void TestServerTools::servicesIni()
{
    QTemporaryDir dir;
    const QString programDir = dir.filePath(QStringLiteral("kelvarix"));
    QDir().mkpath(programDir);
    QCOMPARE(ServerLayout(programDir).postgresPort(), kDefaultPostgresPort);
    QCOMPARE(ServerLayout(programDir).webManagerPort(), kDefaultWebManagerPort);

    QFile ini(programDir + QStringLiteral("/Services.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("# a comment\nPostgresPort = 55432\nWebManagerPort=abc\nOther=1\n");
    ini.close();
    const ServerLayout layout(programDir);
    QCOMPARE(layout.postgresPort(), 55432);
    // Not a port: the default stays rather than breaking the service.
    QCOMPARE(layout.webManagerPort(), kDefaultWebManagerPort);
}

void TestServerTools::serviceStates_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("httpd");
    QTest::addColumn<int>("postgres");
    const int running = int(ServerTools::State::Running);
    const int stopped = int(ServerTools::State::Stopped);
    const int unknown = int(ServerTools::State::Unknown);
    QTest::addRow("service running") << "        STATE              : 4  RUNNING\n"
                                     << running << unknown;
    QTest::addRow("service stopped") << "        STATE              : 1  STOPPED\n"
                                     << stopped << unknown;
    QTest::addRow("no service") << "[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\n"
                                << unknown << unknown;
    QTest::addRow("cluster running") << "pg_ctl: server is running (PID: 42)\n"
                                     << unknown << running;
    QTest::addRow("cluster stopped") << "pg_ctl: no server running\n" << unknown << stopped;
    QTest::addRow("one blank less") << "4 RUNNING" << unknown << unknown;
}

void TestServerTools::serviceStates()
{
    QFETCH(QString, output);
    QFETCH(int, httpd);
    QFETCH(int, postgres);
    QCOMPARE(int(ServerTools::httpdState(output)), httpd);
    QCOMPARE(int(ServerTools::postgresState(output)), postgres);
}

void TestServerTools::pidFromOutput_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<qint64>("pid");
    QTest::addRow("uninstaller") << "1234<split>\n"
                                 << "<split>" << qint64(1234);
    QTest::addRow("services program") << "1234-*-\n"
                                      << "-*-" << qint64(1234);
    QTest::addRow("nothing printed") << ""
                                     << "<split>" << qint64(0);
    QTest::addRow("not a number") << "server shutting down\n"
                                  << "<split>" << qint64(0);
    QTest::addRow("first line only") << "\n1234<split>\n"
                                     << "<split>" << qint64(0);
    QTest::addRow("other separator") << "1234-*-\n"
                                     << "<split>" << qint64(0);
}

void TestServerTools::pidFromOutput()
{
    QFETCH(QString, output);
    QFETCH(QString, separator);
    QFETCH(qint64, pid);
    QCOMPARE(ServerTools::pidFromOutput(output, separator), pid);
}

void TestServerTools::managerAddress_data()
{
    QTest::addColumn<QString>("conf");
    QTest::addColumn<QString>("address");
    QTest::addRow("filled") << "ServerRoot \"/b/httpd\"\nServerName kx.lan\nListen 8080\n"
                               "<VirtualHost *:8080>\nServerName kx.lan \n</VirtualHost> \n"
                            << "kx.lan:8080";
    QTest::addRow("later lines win") << "ServerName a\nListen 80\nServerName b \nListen 81\n"
                                     << "b:81";
    QTest::addRow("two blanks") << "ServerName  kx.lan\nListen 80\n"
                                << ":80";
    QTest::addRow("keyword alone") << "ServerName\nListen\n"
                                   << ":";
    QTest::addRow("indented lines do not count") << "  ServerName x\nListen 80\n"
                                                 << ":80";
}

void TestServerTools::managerAddress()
{
    QFETCH(QString, conf);
    QFETCH(QString, address);
    QCOMPARE(ServerTools::managerAddressFrom(conf), address);
    // Without httpd.conf there is no address at all.
    QString missing = QStringLiteral("stale");
    QVERIFY(!ServerTools(ServerLayout(QStringLiteral("/nonexistent/kelvarix")))
                 .managerAddress(&missing));
    QVERIFY(missing.isEmpty());
}

void TestServerTools::clusterSettingsReplaceTheirBlock()
{
    const QString conf = QStringLiteral("#port = 5432\nmax_connections = 100\n");
    const QString once = PostgresControl::withClusterSettings(conf, 5433, QStringLiteral("/b/pg"));
    QVERIFY(once.startsWith(conf));
    QVERIFY(once.contains(QStringLiteral("\nport = 5433\n")));
    QVERIFY(once.contains(QStringLiteral("unix_socket_directories = '/b/pg'\n")));
    // Applied again with another port: one block, the new port.
    const QString twice =
        PostgresControl::withClusterSettings(once, 6000, QStringLiteral("/it's/pg"));
    QCOMPARE(twice.count(QStringLiteral("port = ")), 2); // the commented default and ours
    QVERIFY(twice.contains(QStringLiteral("\nport = 6000\n")));
    QVERIFY(!twice.contains(QStringLiteral("5433")));
    QVERIFY(twice.contains(QStringLiteral("unix_socket_directories = '/it''s/pg'\n")));
    QCOMPARE(PostgresControl::withClusterSettings(twice, 6000, QStringLiteral("/it's/pg")), twice);
}

void TestServerTools::pidFilesNameOnlyLiveProcessesOfThatName()
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("x.pid"));
    QCOMPARE(ProcessCheck::readPidFile(pidFile), qint64(0));
    QVERIFY(writePid(pidFile, -7));
    QCOMPARE(ProcessCheck::readPidFile(pidFile), qint64(0));

    QProcess named;
    QVERIFY(startNamed(named, dir.path(), QStringLiteral("KelvarixServer")));
    QVERIFY(writePid(pidFile, named.processId()));
    QCOMPARE(ProcessCheck::runningPid(pidFile, QStringLiteral("KelvarixServer")),
             named.processId());
    QCOMPARE(ProcessCheck::runningPid(pidFile, QStringLiteral("apache2")), qint64(0));
    named.kill();
    QVERIFY(named.waitForFinished(10000));
    // Left behind after the process ended: it names nothing.
    QCOMPARE(ProcessCheck::runningPid(pidFile, QStringLiteral("KelvarixServer")), qint64(0));
}

void TestServerTools::serverCommandsReachOnlyTheServer()
{
    QTemporaryDir dir;
    const QString programDir = dir.filePath(QStringLiteral("kelvarix"));
    QDir().mkpath(programDir);
    const QString pidFile = programDir + QStringLiteral("/KelvarixServer.pid");
    const QStringList base{QStringLiteral("--program-dir"), programDir, QStringLiteral("server")};
    QString out, err;

    // A stale pid file whose id now belongs to another program: that program is left alone.
    QProcess other;
    QVERIFY(startNamed(other, dir.path(), QStringLiteral("sleep")));
    QVERIFY(writePid(pidFile, other.processId()));
    QCOMPARE(runCtl(base + QStringList{QStringLiteral("query")}, &out), 0);
    QVERIFY(!ServerTools::serverListed(out));
    QVERIFY(runCtl(base + QStringList{QStringLiteral("stop"), QStringLiteral("--force")}, &out,
                   &err) != 0);
    QVERIFY2(err.contains(QStringLiteral("not found")), qPrintable(err));
    QCOMPARE(other.state(), QProcess::Running);

    QProcess server;
    QVERIFY(startNamed(server, dir.path(), QStringLiteral("KelvarixServer")));
    QVERIFY(writePid(pidFile, server.processId()));
    QCOMPARE(runCtl(base + QStringList{QStringLiteral("query")}, &out), 0);
    QVERIFY2(ServerTools::serverListed(out), qPrintable(out));
    QVERIFY(out.contains(QString::number(server.processId())));
    QCOMPARE(
        runCtl(base + QStringList{QStringLiteral("stop"), QStringLiteral("--force")}, &out, &err),
        0);
    QVERIFY2(out.startsWith(QStringLiteral("SUCCESS")), qPrintable(err));
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::CrashExit);
    // A killed server cannot remove its pid file; the stop does.
    QVERIFY(!QFile::exists(pidFile));
    QCOMPARE(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished();
}

void TestServerTools::killRefusesIdsBelowOne_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addRow("zero") << QStringList{QStringLiteral("kill"), QStringLiteral("0")};
    QTest::addRow("group") << QStringList{QStringLiteral("kill"), QStringLiteral("-1")};
    QTest::addRow("forced zero") << QStringList{QStringLiteral("kill"), QStringLiteral("--force"),
                                                QStringLiteral("0")};
    QTest::addRow("empty") << QStringList{QStringLiteral("kill"), QString()};
    QTest::addRow("not a number") << QStringList{QStringLiteral("kill"), QStringLiteral("12ab")};
}

void TestServerTools::killRefusesIdsBelowOne()
{
    QFETCH(QStringList, arguments);
    QString out, err;
    QCOMPARE(runCtl(arguments, &out, &err), 1);
    QVERIFY2(err.startsWith(QStringLiteral("ERROR: Invalid process id")), qPrintable(err));
    QVERIFY(!ServerTools(ServerLayout(QStringLiteral("/x/kelvarix"))).terminate(0, true).isValid());
    QString why;
    QVERIFY(!ProcessCheck::sendSignal(0, false, &why));
    QVERIFY(!ProcessCheck::sendSignal(-1, true, &why));
}

void TestServerTools::killEndsOneProcess()
{
    QTemporaryDir dir;
    QProcess target, bystander;
    QVERIFY(startNamed(target, dir.path(), QStringLiteral("sleep")));
    QVERIFY(startNamed(bystander, dir.path(), QStringLiteral("sleep")));
    const ToolCommand command = ServerTools(ServerLayout(dir.filePath(QStringLiteral("kelvarix"))))
                                    .terminate(target.processId(), false);
    QString out;
    QCOMPARE(runCtl(command.arguments, &out), 0);
    QVERIFY(out.startsWith(QStringLiteral("SUCCESS")));
    QVERIFY(target.waitForFinished(10000));
    QCOMPARE(bystander.state(), QProcess::Running);
    bystander.kill();
    bystander.waitForFinished();
}

QTEST_GUILESS_MAIN(TestServerTools)
#include "tst_servertools.moc"
