#include "configurationpage.h"
#include "configurationwizard.h"
#include "mainwindow.h"
#include "pgcluster.h"
#include "postgrescontrol.h"
#include "serverresources.h"
#include "serversettings.h"
#include "servertools.h"
#include "setupfiles.h"
#include "testlayout.h"
#include "testports.h"
#include "uninstallerpage.h"
#include "wizarddriver.h"
#include "xvfbdisplay.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

// A whole server machine set up for real: the layout installed by cmake --install into a
// temporary base, KelvarixConfig's wizard typed through under Xvfb, then PostgreSQL, Apache,
// the web manager and the server program run from that layout, and the uninstaller.
class TestConfigurationRun : public QObject
{
    Q_OBJECT
public:
    explicit TestConfigurationRun(XvfbDisplay *display) : display(display) {}

private slots:
    void initTestCase();
    void installedLayout();
    void runStopsAtAnExistingAccount();
    void secondRunOverTheClusterCompletes();
    void databaseHoldsTheTypedAccounts();
    void filesAreFilled();
    void administratorSignsInThroughApache();
    void serverProgramUsesTheNewAccount();
    void uninstallerStopsEverything();
    void uninstallerWithEverythingStopped();
    void cleanupTestCase();

private:
    struct Http {
        int status = 0;
        QByteArray body;
        QUrl redirect;
    };
    void fillPages(const QString &rootUser);
    void execute(const QString &outcome);
    // Presses "Execute" on the uninstaller and waits for its success.
    void uninstall(ConfigurationWizard &uninstaller);
    void screenshot(const QString &name);
    QString connectAs(const QString &user, const QString &password, const QString &database);
    Http request(const QString &path, const QByteArray &form = QByteArray());
    bool runTool(const ToolCommand &command, QString *output = nullptr);

    XvfbDisplay *display;
    TestLayout layout;
    std::unique_ptr<ServerTools> tools;
    std::unique_ptr<ConfigurationWizard> wizard;
    std::unique_ptr<WizardDriver> driver;
    QNetworkAccessManager network;
    int postgresPort = 0;
    int httpPort = 0;
    bool ready = false;
};

namespace
{

const QString kRootUser = QStringLiteral("kx_root");
// The apostrophe broke the statements once; now every password works.
const QString kRootPassword = QStringLiteral("it's \"root\" pw");
const QString kServerUser = QStringLiteral("KxServer");
const QString kServerPassword = QStringLiteral("srv'pw#1 \\x");
const QString kManagerUser = QStringLiteral("admin");
const QString kManagerPassword = QStringLiteral("Adm1n's pass");
const QString kSuccess = QStringLiteral("Kelvarix Server configuration completed successfully");
const QString kProblem = QStringLiteral("Kelvarix Server configuration , problem see log ...");
const QString kUninstalled = QStringLiteral("Kelvarix services have been uninstalled successfully");
constexpr int kRunTimeoutMs = 180000;

QByteArray formBody(const QList<QPair<QString, QString>> &fields)
{
    QByteArrayList pairs;
    for (const auto &field : fields)
        pairs << QUrl::toPercentEncoding(field.first) + '=' + QUrl::toPercentEncoding(field.second);
    return pairs.join('&');
}

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace

void TestConfigurationRun::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    // Never the machine's own service manager: the installation is recorded in the layout.
    qputenv("KELVARIX_SERVICE_MANAGER", "none");
    QVERIFY2(layout.install(), qPrintable(layout.errorText()));
    postgresPort = freeTcpPort();
    httpPort = freeTcpPort();
    QVERIFY(layout.writeServicesIni(postgresPort, freeTcpPort()));
    // Free ports for the server program too, so that parallel tests never meet.
    QString ini = layout.readFile(QStringLiteral("kelvarix/Server.ini"));
    for (const char *key :
         {"ServerManagerPort", "ServerAgentPort", "ManagerPort", "AgentPort", "WebSocketPort"})
        ini.replace(QRegularExpression(QStringLiteral("\\n%1=\\d+").arg(QLatin1String(key))),
                    QStringLiteral("\n%1=%2").arg(QLatin1String(key)).arg(freeTcpPort()));
    QVERIFY(layout.writeFile(QStringLiteral("kelvarix/Server.ini"), ini));
    tools = std::make_unique<ServerTools>(ServerLayout(layout.programDir()));
    network.setCookieJar(new QNetworkCookieJar(&network));
    ready = true;
}

void TestConfigurationRun::cleanupTestCase()
{
    driver.reset();
    wizard.reset();
}

void TestConfigurationRun::screenshot(const QString &name)
{
    QCoreApplication::processEvents();
    QTest::qWait(200);
    QVERIFY(display->screenshot(XvfbDisplay::outputDir() + QStringLiteral("/config-run-") + name +
                                QStringLiteral(".png")));
}

bool TestConfigurationRun::runTool(const ToolCommand &command, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    command.startOn(process);
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    if (!finished.wait(60000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitCode() == 0;
}

void TestConfigurationRun::installedLayout()
{
    for (const char *path :
         {"kelvarix/KelvarixServer", "kelvarix/KelvarixConfig", "kelvarix/kelvarix-ctl",
          "kelvarix/kelvarix-manager", "kelvarix/Server.ini", "kelvarix/Services.ini",
          "kelvarix/sql/zvn_struct_postgresql.sql", "kelvarix/sql/zvn_fill.sql", "kelvarix/upload",
          "postgresql", "httpd/conf/httpd.conf", "httpd/conf/mime.types", "httpd/htdocs/index.html",
          "httpd/cgi-bin", "httpd/logs", "bin/rails_pid", "application/config/database.yml",
          "application/config/application.yml", "application/bin/start-web-manager"})
        QVERIFY2(QFileInfo::exists(layout.baseDir() + QLatin1Char('/') + QLatin1String(path)),
                 path);
    QVERIFY(
        QFileInfo(layout.baseDir() + QStringLiteral("/kelvarix/KelvarixConfig")).isExecutable());
    QVERIFY(QFileInfo(layout.baseDir() + QStringLiteral("/bin/rails_pid")).isExecutable());
    // Nothing of a developer's own runs goes along.
    QVERIFY(!QFileInfo::exists(layout.baseDir() +
                               QStringLiteral("/application/config/secret_key_base")));
    QCOMPARE(tools->layout().baseDir(), layout.baseDir());
}

void TestConfigurationRun::fillPages(const QString &rootUser)
{
    QCOMPARE(driver->currentId(), int(ConfigurationWizard::IntroPageId));
    screenshot(QStringLiteral("0-intro"));
    driver->pressNext();
    driver->type(QStringLiteral("httpAddress"), QStringLiteral("127.0.0.1"));
    driver->type(QStringLiteral("httpPort"), QString::number(httpPort));
    screenshot(QStringLiteral("1-webserver"));
    driver->pressNext();
    driver->typeAccount(QStringLiteral("dbRoot"), rootUser, kRootPassword);
    screenshot(QStringLiteral("2-root"));
    driver->pressNext();
    driver->typeAccount(QStringLiteral("dbKelvarixServer"), kServerUser, kServerPassword);
    screenshot(QStringLiteral("4-server"));
    driver->pressNext();
    driver->typeAccount(QStringLiteral("manager"), kManagerUser, kManagerPassword);
    screenshot(QStringLiteral("3-manager"));
    driver->pressNext();
    QCOMPARE(driver->currentId(), int(ConfigurationWizard::ConfigurationPageId));
    QVERIFY(driver->boxes().isEmpty());
}

void TestConfigurationRun::execute(const QString &outcome)
{
    ConfigurationPage *page = wizard->configurationPage();
    QCOMPARE(wizard->button(QWizard::NextButton)->text(), QStringLiteral("Execute"));
    driver->pressNext();
    QCOMPARE(page->labelText(), QStringLiteral("Kelvarix Server configuration in progress ..."));
    QVERIFY(!wizard->button(QWizard::NextButton)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(page->labelText() == kSuccess || page->labelText() == kProblem,
                             kRunTimeoutMs);
    QVERIFY2(page->labelText() == outcome, qPrintable(page->logText()));
    QVERIFY(wizard->button(QWizard::NextButton)->isEnabled());
}

void TestConfigurationRun::runStopsAtAnExistingAccount()
{
    QVERIFY(ready);
    wizard = std::make_unique<ConfigurationWizard>(QString(), ServerLayout(layout.programDir()));
    wizard->show();
    QVERIFY(QTest::qWaitForWindowExposed(wizard.get()));
    driver = std::make_unique<WizardDriver>(wizard.get());
    // The cluster's owner account exists as soon as the cluster does.
    fillPages(PostgresControl::ownerAccount());
    execute(kProblem);
    const QString log = wizard->configurationPage()->logText();
    QVERIFY2(log.contains(
                 QStringLiteral("role \"%1\" already exists").arg(PostgresControl::ownerAccount())),
             qPrintable(log));
    QVERIFY(log.contains(QStringLiteral(" FAILED :  ")));
    QVERIFY(!log.contains(QStringLiteral("Create required groups")));
    const QList<WizardDriver::Box> boxes = driver->takeBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QStringLiteral("Kelvarix Server - Configuration Wizard"));
    QCOMPARE(wizard->button(QWizard::NextButton)->text(), QStringLiteral("Execute"));
    screenshot(QStringLiteral("5-failed"));
}

void TestConfigurationRun::secondRunOverTheClusterCompletes()
{
    QVERIFY(wizard);
    // Back to the root account's page: 5 -> 3 -> 4 -> 2.
    for (int i = 0; i < 3; ++i)
        driver->pressBack();
    QCOMPARE(driver->currentId(), int(ConfigurationWizard::PostgresAdminPageId));
    driver->type(QStringLiteral("dbRootUsername"), kRootUser);
    driver->pressNext();
    // Going back cleared the pages after it, as a wizard does: typed again.
    driver->typeAccount(QStringLiteral("dbKelvarixServer"), kServerUser, kServerPassword);
    driver->pressNext();
    driver->typeAccount(QStringLiteral("manager"), kManagerUser, kManagerPassword);
    driver->pressNext();
    QCOMPARE(driver->currentId(), int(ConfigurationWizard::ConfigurationPageId));
    execute(kSuccess);
    ConfigurationPage *page = wizard->configurationPage();
    const QString log = page->logText();
    // The cluster exists: initdb says so, and the run goes on.
    QVERIFY2(log.contains(QStringLiteral("exists")), qPrintable(log));
    int at = 0;
    for (const QString &line :
         {QStringLiteral("\n Start Kelvarix Server configuration ... \n"),
          QStringLiteral("\n Create database cluster ... \n"),
          QStringLiteral("\n Start database server ... "),
          QStringLiteral("\n Connect to database server ... \n"),
          QStringLiteral("\n Connected successfully \n"),
          QStringLiteral("\n Create database server root account ...  DONE \n"),
          QStringLiteral("\n Create required groups ...  DONE \n"),
          QStringLiteral("\n Create database account for Kelvarix Server ...  DONE \n"),
          QStringLiteral("\n Create database ...  DONE \n"),
          QStringLiteral(" \n Create database structure ...  DONE \n"),
          QStringLiteral(
              "\n Create Kelvarix administrator account and set privileges ...  DONE \n"),
          QStringLiteral(" \n Configure client authentication ...  DONE \n"),
          QStringLiteral("\n Kelvarix Server configuration has been completed successfully !!! \n"),
          QStringLiteral("\n Delete database temporary account ...   DONE \n"),
          QStringLiteral("\n Create apache server service ... "),
          QStringLiteral("\n The KelvarixHttpServer service is successfully installed ...")}) {
        const int found = log.indexOf(line, at);
        QVERIFY2(found >= at,
                 qPrintable(QStringLiteral("missing in order: [%1]\n%2").arg(line, log)));
        at = found + line.size();
    }
    QCOMPARE(page->progressValue(), 100);
    QVERIFY(page->isConfigured());
    QCOMPARE(wizard->button(QWizard::NextButton)->text(), QStringLiteral("Next"));
    QVERIFY(driver->boxes().isEmpty());
    screenshot(QStringLiteral("5-configured"));
    driver->pressNext();
    QCOMPARE(driver->currentId(), int(ConfigurationWizard::FinalPageId));
    screenshot(QStringLiteral("6-final"));
    QVERIFY(wizard->button(QWizard::FinishButton)->isVisible());
}

QString TestConfigurationRun::connectAs(const QString &user, const QString &password,
                                        const QString &database)
{
    QString error;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("probe"));
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(postgresPort);
        db.setUserName(user);
        db.setPassword(password);
        db.setDatabaseName(database);
        if (!db.open())
            error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return error;
}

void TestConfigurationRun::databaseHoldsTheTypedAccounts()
{
    QVERIFY(wizard && wizard->configurationPage()->isConfigured());
    // Every typed account logs in with its password; the temporary one is gone.
    QCOMPARE(connectAs(kServerUser, kServerPassword, QStringLiteral("zvndb")), QString());
    QCOMPARE(connectAs(kManagerUser, kManagerPassword, QStringLiteral("zvndb")), QString());
    QVERIFY(!connectAs(kServerUser, QStringLiteral("wrong"), QStringLiteral("zvndb")).isEmpty());
    QVERIFY(
        !connectAs(QStringLiteral("tmp_user"), QString(), QStringLiteral("template1")).isEmpty());
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("root"));
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(postgresPort);
        db.setUserName(kRootUser);
        db.setPassword(kRootPassword);
        db.setDatabaseName(QStringLiteral("zvndb"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY(
            query.exec(QStringLiteral("SELECT rolname, rolsuper, rolcreaterole FROM pg_roles "
                                      "WHERE rolname IN ('tmp_user','kx_root','KxServer','admin') "
                                      "ORDER BY rolname")));
        QStringList roles;
        while (query.next())
            roles << QStringLiteral("%1 %2 %3")
                         .arg(query.value(0).toString(), query.value(1).toString(),
                              query.value(2).toString());
        QCOMPARE(roles, QStringList({QStringLiteral("KxServer false false"),
                                     QStringLiteral("admin false true"),
                                     QStringLiteral("kx_root true true")}));
        QVERIFY(query.exec(QStringLiteral(
            "SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = 'zvndb'")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), kServerUser);
        // What tmp_user created went to the root account.
        QVERIFY(query.exec(QStringLiteral("SELECT DISTINCT tableowner FROM pg_tables "
                                          "WHERE schemaname = 'public'")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), kRootUser);
        QVERIFY(!query.next());
        QVERIFY(query.exec(
            QStringLiteral("SELECT username, passwd, full_name, user_level FROM users")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), kManagerUser);
        QCOMPARE(query.value(1).toString(), md5Hex(kManagerPassword));
        QCOMPARE(query.value(2).toString(), QStringLiteral("Default Admin"));
        QCOMPARE(query.value(3).toInt(), 1);
        QVERIFY(!query.next());
        query.clear();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("root"));
}

void TestConfigurationRun::filesAreFilled()
{
    QVERIFY(wizard && wizard->configurationPage()->isConfigured());
    SetupFiles::Accounts accounts;
    accounts.rootUser = kRootUser;
    accounts.serverUser = kServerUser;
    accounts.managerUser = kManagerUser;
    accounts.managerHost = QStringLiteral("127.0.0.1");
    accounts.ownerAccount = PostgresControl::ownerAccount();
    QCOMPARE(layout.readFile(QStringLiteral("postgresql/data/pg_hba.conf")),
             SetupFiles::pgHba(accounts));

    QByteArray ini = layout.readFile(QStringLiteral("kelvarix/Server.ini")).toUtf8();
    QBuffer buffer(&ini);
    QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Text));
    ServerSettings settings;
    settings.applyAll(buffer);
    QCOMPARE(settings.dbUsername, kServerUser);
    QCOMPARE(settings.dbPassword, kServerPassword);
    QCOMPARE(settings.dbPort, postgresPort);

    const QString database = layout.readFile(QStringLiteral("application/config/database.yml"));
    QVERIFY2(!database.contains(QStringLiteral("DB_USERNAME")) &&
                 !database.contains(QStringLiteral("DB_PASSWORD")),
             qPrintable(database));
    QVERIFY(database.contains(kServerPassword));
    const QString application =
        layout.readFile(QStringLiteral("application/config/application.yml"));
    QVERIFY(application.contains(QStringLiteral("web_server_address: 127.0.0.1")));
    QVERIFY(application.contains(
        QStringLiteral("upload_dir: \"%1/kelvarix/upload\"").arg(layout.baseDir())));
    QVERIFY(QFileInfo(tools->layout().startRailsServerFile()).isExecutable());

    const QString conf = layout.readFile(QStringLiteral("httpd/conf/httpd.conf"));
    QVERIFY(conf.contains(QStringLiteral("\nListen %1\n").arg(httpPort)));
    QVERIFY(conf.contains(QStringLiteral("ProxyPass / http://127.0.0.1:%1/ \n")
                              .arg(tools->layout().webManagerPort())));
    // Where the services program's Open Manager goes.
    QString address;
    QVERIFY(tools->managerAddress(&address));
    QCOMPARE(address, QStringLiteral("127.0.0.1:%1").arg(httpPort));
    QString query;
    runTool(tools->httpd(ServerTools::Httpd::Query), &query);
    QCOMPARE(ServerTools::httpdState(query), ServerTools::State::Stopped);
}

TestConfigurationRun::Http TestConfigurationRun::request(const QString &path,
                                                         const QByteArray &form)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort).arg(path)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = nullptr;
    if (form.isNull()) {
        reply = network.get(request);
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        reply = network.post(request, form);
    }
    QSignalSpy done(reply, &QNetworkReply::finished);
    Http result;
    if (done.wait(60000)) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        result.redirect = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    }
    reply->deleteLater();
    return result;
}

void TestConfigurationRun::administratorSignsInThroughApache()
{
    QVERIFY(wizard && wizard->configurationPage()->isConfigured());
    // What the services program does at its start: Apache, then the web manager.
    QString output;
    QVERIFY2(runTool(tools->httpd(ServerTools::Httpd::Start), &output), qPrintable(output));
    QVERIFY(runTool(tools->httpd(ServerTools::Httpd::Query), &output));
    QCOMPARE(ServerTools::httpdState(output), ServerTools::State::Running);
    QVERIFY(tools->startWebManager());
    const QString separator = ServerTools::servicesSeparator();
    QTRY_VERIFY2_WITH_TIMEOUT(
        runTool(tools->webManagerPid(separator), &output) &&
            ServerTools::pidFromOutput(output, separator) > 0,
        qPrintable(layout.readFile(QStringLiteral("application/log/start-web-manager.log"))),
        120000);
    QTRY_COMPARE_WITH_TIMEOUT(request(QStringLiteral("/sign_in")).status, 200, 120000);

    const Http signInPage = request(QStringLiteral("/sign_in"));
    const QRegularExpressionMatch token =
        QRegularExpression(QStringLiteral("name=\"authenticity_token\" value=\"([^\"]+)\""))
            .match(QString::fromUtf8(signInPage.body));
    QVERIFY2(token.hasMatch(), signInPage.body.constData());
    QVERIFY(QProcess::execute(QStringLiteral("chromium-headless-shell"),
                              {QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                               QStringLiteral("--window-size=1024,700"),
                               QStringLiteral("--screenshot=") + XvfbDisplay::outputDir() +
                                   QStringLiteral("/config-run-sign-in.png"),
                               QStringLiteral("http://127.0.0.1:%1/sign_in").arg(httpPort)}) == 0);

    const QString authenticity = token.captured(1);
    QCOMPARE(request(QStringLiteral("/sign_in"),
                     formBody({{QStringLiteral("authenticity_token"), authenticity},
                               {QStringLiteral("username"), kManagerUser},
                               {QStringLiteral("password"), QStringLiteral("not it")}}))
                 .status,
             422);

    const Http signedIn = request(QStringLiteral("/sign_in"),
                                  formBody({{QStringLiteral("authenticity_token"), authenticity},
                                            {QStringLiteral("username"), kManagerUser},
                                            {QStringLiteral("password"), kManagerPassword}}));
    QVERIFY2(signedIn.status == 302, signedIn.body.constData());
    QVERIFY(signedIn.redirect.path().endsWith(QStringLiteral("/machines")));
    const Http machines = request(QStringLiteral("/machines"));
    QCOMPARE(machines.status, 200);
    QVERIFY2(machines.body.contains("sign_out"), machines.body.left(2000).constData());
}

void TestConfigurationRun::serverProgramUsesTheNewAccount()
{
    QVERIFY(wizard && wizard->configurationPage()->isConfigured());
    // The installed program with the filled Server.ini.
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(tools->layout().serverProgram(), {QStringLiteral("--headless")});
    QVERIFY(server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(layout.readFile(QStringLiteral("kelvarix/Server.log"))
                                 .contains(QStringLiteral("Kelvarix Server is running .....")),
                             60000);
    QString output;
    QVERIFY(runTool(tools->serverQuery(), &output));
    QVERIFY2(ServerTools::serverListed(output), qPrintable(output));
    QVERIFY(output.contains(QString::number(server.processId())));
    QVERIFY(runTool(tools->serverStop(false), &output));
    // Ended while the stop command was waited for.
    QTRY_COMPARE(server.state(), QProcess::NotRunning);
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFileInfo::exists(tools->layout().serverPidFile()));

    // Check DB of the server's window, reading the same Server.ini.
    initServerResources();
    MainWindow window(tools->layout().programDir());
    QAction *checkDB = window.findChild<QAction *>(QStringLiteral("actionCheckDB"));
    QVERIFY(checkDB);
    QTRY_VERIFY_WITH_TIMEOUT(layout.readFile(QStringLiteral("kelvarix/Server.log"))
                                     .count(QStringLiteral("Kelvarix Server is running .....")) ==
                                 2,
                             60000);
    checkDB->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(layout.readFile(QStringLiteral("kelvarix/Server.log"))
                                 .contains(QStringLiteral("Connection to DB successful")),
                             30000);
}

void TestConfigurationRun::uninstall(ConfigurationWizard &uninstaller)
{
    uninstaller.show();
    QVERIFY(QTest::qWaitForWindowExposed(&uninstaller));
    UninstallerPage *page = uninstaller.uninstallerPage();
    QTest::mouseClick(uninstaller.button(QWizard::FinishButton), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(page->labelText() == kUninstalled ||
                                 page->labelText().contains(QStringLiteral("problem")),
                             kRunTimeoutMs);
    QVERIFY2(page->isUninstalled(), qPrintable(page->logText()));
}

void TestConfigurationRun::uninstallerStopsEverything()
{
    QVERIFY(wizard && wizard->configurationPage()->isConfigured());
    QString output;
    runTool(tools->webManagerPid(ServerTools::uninstallerSeparator()), &output);
    const qint64 webManagerPid =
        ServerTools::pidFromOutput(output, ServerTools::uninstallerSeparator());
    QVERIFY(webManagerPid > 0);

    ConfigurationWizard uninstaller(ConfigurationWizard::uninstallSwitch(),
                                    ServerLayout(layout.programDir()));
    WizardDriver boxes(&uninstaller);
    uninstall(uninstaller);
    UninstallerPage *page = uninstaller.uninstallerPage();
    QCOMPARE(page->progressValue(), 100);
    QCOMPARE(uninstaller.button(QWizard::FinishButton)->text(), QStringLiteral("Finish"));
    const QString log = page->logText();
    for (const QString &line :
         {QStringLiteral("\nStart Kelvarix services uninstallation ... \n"),
          QStringLiteral("\nStop database server ... \n"),
          QStringLiteral("\nStop apache server ... \n"),
          QStringLiteral("\nRemove apache service ... \n"), QStringLiteral("removed successfully"),
          QStringLiteral("PID %1 has been terminated").arg(webManagerPid)})
        QVERIFY2(log.contains(line), qPrintable(log));
    screenshot(QStringLiteral("uninstalled"));

    // Stopped without waiting: the cluster goes down shortly after.
    const auto clusterState = [this] {
        QString status;
        runTool(tools->postgres(ServerTools::Postgres::Status), &status);
        return ServerTools::postgresState(status);
    };
    QTRY_COMPARE_WITH_TIMEOUT(clusterState(), ServerTools::State::Stopped, 30000);
    runTool(tools->httpd(ServerTools::Httpd::Query), &output);
    QVERIFY2(output.contains(QStringLiteral("FAILED 1060")), qPrintable(output));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(webManagerPid)) ||
            !QFileInfo::exists(tools->layout().webManagerPidFile()));
    QVERIFY(request(QStringLiteral("/sign_in")).status == 0);
    // Pressed again after success, the button closes the wizard.
    QTest::mouseClick(uninstaller.button(QWizard::FinishButton), Qt::LeftButton);
    QTRY_VERIFY(!uninstaller.isVisible());
}

void TestConfigurationRun::uninstallerWithEverythingStopped()
{
    QVERIFY(wizard && wizard->configurationPage()->isConfigured());
    ConfigurationWizard uninstaller(ConfigurationWizard::uninstallSwitch(),
                                    ServerLayout(layout.programDir()));
    WizardDriver boxes(&uninstaller);
    uninstall(uninstaller);
    const QString log = uninstaller.uninstallerPage()->logText();
    // Each tool says what it found; none of it stops the chain.
    QVERIFY2(log.contains(QStringLiteral("Is server running?")), qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("No installed service named \"KelvarixHttpServer\"")));
    QVERIFY(log.contains(QStringLiteral("\nRails server is already stopped ...\n")));
    QVERIFY(boxes.boxes().isEmpty());
    screenshot(QStringLiteral("uninstalled-again"));
}

int main(int argc, char **argv)
{
    XvfbDisplay display;
    // The server's window needs a notification area for its tray icon.
    if (!display.start(true))
        return XvfbDisplay::unavailable(display.errorText());
    display.use();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Q_INIT_RESOURCE(config_wizard);
    TestConfigurationRun test(&display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configurationrun.moc"
