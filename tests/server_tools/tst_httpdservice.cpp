#include "httpdservice.h"
#include "processcheck.h"
#include "servertools.h"
#include "setupfiles.h"
#include "testlayout.h"
#include "testports.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// Debian's Apache as the service "KelvarixHttpServer" on the filled httpd.conf of a temporary
// layout, forwarding to a stand-in for the web manager on loopback.
class TestHttpdService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusedConfigurationIsNotInstalled();
    void serviceLifecycle();

private:
    struct Result {
        int code = -1;
        QString out;
        QString err;
    };
    Result run(ServerTools::Httpd action);
    // GET / through Apache; the body, or the error text with a leading "!".
    QString fetch();
    void fillHttpdConf();

    TestLayout layout;
    std::unique_ptr<ServerTools> tools;
    QTcpServer backend;
    int httpPort = 0;
    QString templateText;
};

void TestHttpdService::initTestCase()
{
    if (HttpdService::apacheProgram().isEmpty())
        QSKIP("apache2 is not installed");
    qRegisterMetaType<QProcess::ExitStatus>();
    // Never /etc/systemd: the installation is recorded beside httpd.conf.
    qputenv("KELVARIX_SERVICE_MANAGER", "none");
    QVERIFY2(layout.copyTemplates(), qPrintable(layout.errorText()));
    QVERIFY(backend.listen(QHostAddress::LocalHost, 0));
    connect(&backend, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = backend.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                const QByteArray body = "web manager here";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                              body);
                socket->disconnectFromHost();
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    httpPort = freeTcpPort();
    QVERIFY(layout.writeServicesIni(freeTcpPort(), backend.serverPort()));
    templateText = layout.readFile(QStringLiteral("httpd/conf/httpd.conf"));
    tools = std::make_unique<ServerTools>(ServerLayout(layout.programDir()));
}

TestHttpdService::Result TestHttpdService::run(ServerTools::Httpd action)
{
    QProcess process;
    tools->httpd(action).startOn(process);
    Result result;
    // Waited in the event loop, so the stand-in keeps answering meanwhile.
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    if (finished.wait(60000)) {
        result.code = process.exitCode();
        result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(process.readAllStandardError());
    }
    return result;
}

QString TestHttpdService::fetch()
{
    QNetworkAccessManager manager;
    QNetworkReply *reply =
        manager.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(httpPort))));
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!done.wait(30000))
        return QStringLiteral("!timeout");
    const QString text = reply->error() == QNetworkReply::NoError
                             ? QString::fromUtf8(reply->readAll())
                             : QLatin1Char('!') + reply->errorString();
    reply->deleteLater();
    return text;
}

void TestHttpdService::fillHttpdConf()
{
    const ServerLayout &paths = tools->layout();
    const QString port = QString::number(httpPort);
    const QString block = SetupFiles::virtualHost(port, QStringLiteral("127.0.0.1"),
                                                  paths.applicationDir(), paths.webManagerPort());
    QVERIFY(layout.writeFile(QStringLiteral("httpd/conf/httpd.conf"),
                             SetupFiles::filledHttpdConf(templateText, QStringLiteral("127.0.0.1"),
                                                         port, paths.httpdDir(), block)));
}

void TestHttpdService::refusedConfigurationIsNotInstalled()
{
    // Placeholders never filled: Apache refuses the file, so there is no service.
    Result install = run(ServerTools::Httpd::Install);
    QVERIFY(install.code != 0);
    QVERIFY2(!install.err.contains(QStringLiteral("successfully installed")),
             qPrintable(install.err));
    QVERIFY(!install.err.trimmed().isEmpty());
    QVERIFY(!HttpdService(tools->layout()).isInstalled());
}

void TestHttpdService::serviceLifecycle()
{
    using H = ServerTools::Httpd;
    fillHttpdConf();
    Result query = run(H::Query);
    QVERIFY2(query.out.contains(QStringLiteral("FAILED 1060")), qPrintable(query.out));
    Result early = run(H::Start);
    QVERIFY(early.code != 0);
    QVERIFY2(
        early.err.contains(QStringLiteral("No installed service named \"KelvarixHttpServer\"")),
        qPrintable(early.err));

    Result install = run(H::Install);
    QCOMPARE(install.code, 0);
    // Only the text the set-up looks for: "Syntax OK" would count as an error there.
    QCOMPARE(install.err.trimmed(),
             QStringLiteral("The KelvarixHttpServer service is successfully installed."));
    QCOMPARE(ServerTools::httpdState(run(H::Query).out), ServerTools::State::Stopped);

    Result start = run(H::Start);
    QVERIFY2(start.code == 0, qPrintable(start.err));
    QCOMPARE(ServerTools::httpdState(run(H::Query).out), ServerTools::State::Running);
    const qint64 pid = HttpdService(tools->layout()).runningPid();
    QVERIFY(pid > 0);
    QCOMPARE(ProcessCheck::commandName(pid), QStringLiteral("apache2"));
    QCOMPARE(fetch(), QStringLiteral("web manager here"));
    // Apache logs a request once it has answered it.
    QTRY_VERIFY(QFileInfo(tools->layout().httpdDir() + QStringLiteral("/logs/access_log")).size() >
                0);

    Result restart = run(H::Restart);
    QVERIFY2(restart.code == 0, qPrintable(restart.err));
    QTRY_COMPARE_WITH_TIMEOUT(fetch(), QStringLiteral("web manager here"), 20000);

    Result stop = run(H::Stop);
    QVERIFY2(stop.code == 0, qPrintable(stop.err));
    QCOMPARE(ServerTools::httpdState(run(H::Query).out), ServerTools::State::Stopped);
    QVERIFY(!ProcessCheck::isAlive(pid));
    QVERIFY(fetch().startsWith(QLatin1Char('!')));
    Result stopAgain = run(H::Stop);
    QVERIFY(stopAgain.code != 0);
    QVERIFY2(stopAgain.err.contains(QStringLiteral("not running")), qPrintable(stopAgain.err));

    Result uninstall = run(H::Uninstall);
    QCOMPARE(uninstall.code, 0);
    QVERIFY(uninstall.err.contains(QStringLiteral("removed successfully")));
    QVERIFY(run(H::Query).out.contains(QStringLiteral("FAILED 1060")));
    QVERIFY(run(H::Uninstall).code != 0);
}

QTEST_GUILESS_MAIN(TestHttpdService)
#include "tst_httpdservice.moc"
