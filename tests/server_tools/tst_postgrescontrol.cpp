#include "pgcluster.h"
#include "servertools.h"
#include "testlayout.h"
#include "testports.h"

#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <unistd.h>

// PostgreSQL driven through the tool layer for a cluster in a temporary layout: created,
// started, checked, restarted, reloaded and stopped, as the owner account when run as root.
class TestPostgresControl : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void clusterLifecycle();

private:
    struct Result {
        int code = -1;
        QString output;
    };
    Result run(const ToolCommand &command);
    bool tmpUserConnects();

    TestLayout layout;
    int port = 0;
    std::unique_ptr<ServerTools> tools;
};

void TestPostgresControl::initTestCase()
{
    QVERIFY2(layout.copyTemplates(), qPrintable(layout.errorText()));
    port = freeTcpPort();
    QVERIFY(layout.writeServicesIni(port, freeTcpPort()));
    tools = std::make_unique<ServerTools>(ServerLayout(layout.programDir()));
    QCOMPARE(tools->layout().postgresPort(), port);
}

TestPostgresControl::Result TestPostgresControl::run(const ToolCommand &command)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    command.startOn(process);
    Result result;
    // A server that kept the pipe open would hold this read past the command's end.
    if (process.waitForFinished(120000)) {
        result.code = process.exitCode();
        result.output = QString::fromLocal8Bit(process.readAll());
    }
    return result;
}

bool TestPostgresControl::tmpUserConnects()
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("t"));
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(port);
        db.setUserName(QStringLiteral("tmp_user"));
        db.setDatabaseName(QStringLiteral("template1"));
        ok = db.open();
        if (!ok)
            qWarning("%s", qPrintable(db.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("t"));
    return ok;
}

void TestPostgresControl::clusterLifecycle()
{
    using P = ServerTools::Postgres;
    const ServerLayout &paths = tools->layout();

    Result status = run(tools->postgres(P::Status));
    QCOMPARE(ServerTools::postgresState(status.output), ServerTools::State::Unknown);

    Result init = run(tools->postgres(P::InitCluster));
    if (init.code != 0 && !PgCluster::required())
        QSKIP(qPrintable(init.output));
    QVERIFY2(init.code == 0, qPrintable(init.output));
    QVERIFY(QFileInfo::exists(paths.clusterDir() + QStringLiteral("/PG_VERSION")));
    if (geteuid() == 0)
        QCOMPARE(QFileInfo(paths.clusterDir()).owner(), QStringLiteral("postgres"));
    QVERIFY(layout.readFile(QStringLiteral("postgresql/data/postgresql.conf"))
                .contains(QStringLiteral("\nport = %1\n").arg(port)));
    QCOMPARE(ServerTools::postgresState(run(tools->postgres(P::Status)).output),
             ServerTools::State::Stopped);

    Result start = run(tools->postgres(P::Start));
    QVERIFY2(start.code == 0, qPrintable(start.output));
    QCOMPARE(ServerTools::postgresState(run(tools->postgres(P::Status)).output),
             ServerTools::State::Running);
    QVERIFY(QFileInfo(paths.postgresLogFile()).size() > 0);
    // The socket lives in the cluster's home, on the cluster's port.
    QVERIFY(QFileInfo::exists(paths.postgresDir() + QStringLiteral("/.s.PGSQL.%1").arg(port)));

    Result create = run(tools->createTmpUser());
    QVERIFY2(create.code == 0, qPrintable(create.output));
    QVERIFY(tmpUserConnects());

    // Restart keeps the log file: the server never writes into the caller's pipe.
    const qint64 logSize = QFileInfo(paths.postgresLogFile()).size();
    Result restart = run(tools->postgres(P::Restart));
    QVERIFY2(restart.code == 0, qPrintable(restart.output));
    QVERIFY(!restart.output.contains(QStringLiteral("database system is ready")));
    QVERIFY(QFileInfo(paths.postgresLogFile()).size() > logSize);
    QCOMPARE(run(tools->postgres(P::Reload)).code, 0);
    QVERIFY(tmpUserConnects());

    // A second initdb over the existing cluster fails and leaves it running.
    Result again = run(tools->postgres(P::InitCluster));
    QVERIFY(again.code != 0);
    QVERIFY2(again.output.contains(QStringLiteral("exists")), qPrintable(again.output));
    QCOMPARE(ServerTools::postgresState(run(tools->postgres(P::Status)).output),
             ServerTools::State::Running);

    QCOMPARE(run(tools->postgres(P::StopFast)).code, 0);
    QCOMPARE(ServerTools::postgresState(run(tools->postgres(P::Status)).output),
             ServerTools::State::Stopped);
    Result stopAgain = run(tools->postgres(P::Stop));
    QVERIFY(stopAgain.code != 0);
    QVERIFY2(stopAgain.output.contains(QStringLiteral("Is server running?")),
             qPrintable(stopAgain.output));
}

QTEST_GUILESS_MAIN(TestPostgresControl)
#include "tst_postgrescontrol.moc"
