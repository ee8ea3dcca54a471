#include "configurationpage.h"

#include "configurationwizard.h"
#include "postgrescontrol.h"
#include "processerrortext.h"
#include "setupfiles.h"
#include "setupsql.h"
#include "stepform.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSqlError>
#include <QTextCursor>
#include <QTimer>
#include <QWizard>
#include <unistd.h>

namespace
{

const QString kConnectionName = QStringLiteral("kelvarix-config");
const QString kDriver = QStringLiteral("QPSQL");
const QString kLoopback = QStringLiteral("127.0.0.1");
const QString kTmpUser = QStringLiteral("tmp_user");
const QString kInstalledText =
    QStringLiteral("The KelvarixHttpServer service is successfully installed");
const QString kFqdnWarning =
    QStringLiteral("Could not reliably determine the server's fully qualified domain name");
constexpr int kWaitMs = 30000;

QString boxTitle()
{
    return ConfigurationPage::tr("Kelvarix Server - Configuration Wizard");
}

} // namespace

ConfigurationPage::ConfigurationPage(const ServerLayout &layout, QWidget *parent)
    : QWizardPage(parent), tools(layout)
{
    const StepForm form =
        StepForm::build(this, tr("Press \"Execute\" to complete the configuration process"));
    label = form.label;
    progressBar = form.progressBar;
    logEdit = form.log;
    process = form.process;
    stepTimer = form.stepTimer;
    postgresDir = layout.postgresDir();
    httpdDir = layout.httpdDir();
    applicationDir = layout.applicationDir();
    form.connectTo(this);

    connect(this, &ConfigurationPage::finishedCluster, this, &ConfigurationPage::startDBServer);
    connect(this, &ConfigurationPage::finishedServerStartup, this,
            &ConfigurationPage::createTmpUser);
    connect(this, &ConfigurationPage::finishedTmpUserSetup, this,
            &ConfigurationPage::setupDatabase);
    // The temporary superuser goes before the web server's service is installed.
    connect(this, &ConfigurationPage::finishedDatabaseSetup, this,
            &ConfigurationPage::deleteTmpUser);
    connect(this, &ConfigurationPage::finishedCreateApacheService, this,
            &ConfigurationPage::finishConfig);
    connect(this, &ConfigurationPage::errorInConfiguration, this, &ConfigurationPage::finishConfig);

    setButtonText(QWizard::NextButton, tr("Execute"));
    progressBar->setValue(0);
}

ConfigurationPage::~ConfigurationPage()
{
    query = QSqlQuery();
    if (database.isValid()) {
        database.close();
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(kConnectionName);
    }
}

int ConfigurationPage::nextId() const
{
    return ConfigurationWizard::FinalPageId;
}

bool ConfigurationPage::isConfigured() const
{
    return configured;
}

QString ConfigurationPage::logText() const
{
    return logEdit->toPlainText();
}

QString ConfigurationPage::labelText() const
{
    return label->text();
}

int ConfigurationPage::progressValue() const
{
    return progressBar->value();
}

QString ConfigurationPage::textField(const char *name) const
{
    return field(QLatin1String(name)).toString();
}

void ConfigurationPage::setNextEnabled(bool enabled)
{
    if (wizard() && wizard()->button(QWizard::NextButton))
        wizard()->button(QWizard::NextButton)->setEnabled(enabled);
}

void ConfigurationPage::appendLog(const QString &text)
{
    logEdit->setPlainText(logEdit->toPlainText() + text);
    logEdit->moveCursor(QTextCursor::End);
}

bool ConfigurationPage::validatePage()
{
    if (configured)
        return true;
    logEdit->clear();
    setNextEnabled(false);
    label->setText(tr("Kelvarix Server configuration in progress ..."));
    appendLog(tr("\n Start Kelvarix Server configuration ... \n"));
    createCluster();
    return false;
}

void ConfigurationPage::runStep(int step, const ToolCommand &command, bool waited)
{
    stepFailed = false;
    currentStep = step;
    command.startOn(*process);
    if (waited)
        stepTimer->start(kWaitMs);
}

void ConfigurationPage::createCluster()
{
    appendLog(tr("\n Create database cluster ... \n"));
    progressBar->setValue(10);
    runStep(CreateCluster, tools.postgres(ServerTools::Postgres::InitCluster), false);
}

void ConfigurationPage::startDBServer(bool status)
{
    if (!status)
        return;
    progressBar->setValue(30);
    appendLog(tr("\n Start database server ... "));
    runStep(StartServer, tools.postgres(ServerTools::Postgres::Start), true);
}

void ConfigurationPage::createTmpUser(bool status)
{
    if (!status)
        return;
    progressBar->setValue(40);
    runStep(CreateTmpUser, tools.createTmpUser(), true);
}

void ConfigurationPage::createApacheService(bool status)
{
    if (!status)
        return;
    appendLog(tr("\n Create apache server service ... "));
    runStep(CreateApacheService, tools.httpd(ServerTools::Httpd::Install), false);
}

void ConfigurationPage::startApacheServer(bool status)
{
    if (!status)
        return;
    appendLog(tr("\n Start apache server ... "));
    runStep(StartApache, tools.httpd(ServerTools::Httpd::Start), true);
}

void ConfigurationPage::startRailsServer(bool status)
{
    if (!status)
        return;
    stepFailed = false;
    currentStep = StartRails;
    appendLog(tr("\n Start Rails Server ... "));
    if (!tools.startWebManager()) {
        appendLog(tr(" FAILED :  %1  \n").arg(tools.layout().startRailsServerFile()));
        emit errorInConfiguration(false);
        return;
    }
    appendLog(tr(" DONE \n"));
    emit finishedStartRails(true);
}

void ConfigurationPage::createPostgresService(bool status)
{
    if (!status)
        return;
    stepFailed = false;
    currentStep = CreatePostgresService;
    dropTmpUser();
    // The cluster is started by the services program and kelvarix-ctl; there is no separate
    // service to register.
    appendLog(tr("\n Create database service ...."));
    appendLog(tr(" DONE \n"));
    emit finishedCreatePostgresService(true);
}

void ConfigurationPage::deleteTmpUser(bool status)
{
    if (!status)
        return;
    dropTmpUser();
    createApacheService(true);
}

void ConfigurationPage::dropTmpUser()
{
    appendLog(tr("\n Delete database temporary account ... "));
    // Reached again as the root account: pg_hba.conf no longer admits tmp_user.
    if (!connectDatabase(textField("dbRootUsername"), textField("dbRootPassword"),
                         QStringLiteral("zvndb"))) {
        appendLog(database.lastError().text() + QLatin1Char('\n'));
        return;
    }
    // What tmp_user created (the tables) passes to the root account, or it could not go.
    for (const QString &statement : {SetupSql::reassignTmpUserObjects(),
                                     SetupSql::dropTmpUserObjects(), SetupSql::dropTmpUser()}) {
        query.clear();
        if (!query.exec(statement)) {
            appendLog(query.lastError().text() + QLatin1Char('\n'));
            return;
        }
    }
    appendLog(tr("  DONE \n"));
}

void ConfigurationPage::finishConfig(bool status)
{
    stepTimer->stop();
    setNextEnabled(true);
    if (!status) {
        label->setText(tr("Kelvarix Server configuration , problem see log ..."));
        return;
    }
    label->setText(tr("Kelvarix Server configuration completed successfully"));
    setButtonText(QWizard::NextButton, tr("Next"));
    progressBar->setValue(100);
    configured = true;
}

void ConfigurationPage::storeStandardOutput()
{
    const QByteArray bytes = process->readAllStandardOutput();
    appendLog(QStringLiteral("\n ") + QString::fromLocal8Bit(bytes));
}

void ConfigurationPage::storeStandardError()
{
    const QByteArray bytes = process->readAllStandardError();
    const QString text = QString::fromLocal8Bit(bytes);
    if (currentStep != CreateApacheService) {
        appendLog(QStringLiteral("\n ") + text);
        return;
    }
    if (text.contains(kInstalledText, Qt::CaseInsensitive)) {
        appendLog(tr("\n The KelvarixHttpServer service is successfully installed ..."));
        return;
    }
    appendLog(QStringLiteral("\n ") + text);
    if (!text.contains(QLatin1String("warning"), Qt::CaseInsensitive) &&
        !text.contains(kFqdnWarning, Qt::CaseInsensitive))
        stepFailed = true;
}

void ConfigurationPage::operationError(QProcess::ProcessError error)
{
    stepTimer->stop();
    appendLog(tr("\n Process Error: ") + processErrorText(error));
    emit errorInConfiguration(false);
}

void ConfigurationPage::stepTimedOut()
{
    // A step that overruns its wait ends the run, so the page never hangs on it; the killed
    // command then reports as a crash.
    appendLog(tr("\n Process Error: ") + processErrorText(QProcess::Timedout));
    process->kill();
}

void ConfigurationPage::operationFinished(int code, QProcess::ExitStatus status)
{
    Q_UNUSED(code)
    stepTimer->stop();
    process->close();
    if (status == QProcess::CrashExit || stepFailed) {
        emit errorInConfiguration(false);
        return;
    }
    switch (currentStep) {
    case CreateCluster:
        emit finishedCluster(true);
        break;
    case StartServer:
        emit finishedServerStartup(true);
        break;
    case CreateTmpUser:
        emit finishedTmpUserSetup(true);
        break;
    case SetupDatabase:
        emit finishedDatabaseSetup(true);
        break;
    case CreatePostgresService:
        emit finishedCreatePostgresService(true);
        break;
    case CreateApacheService:
        emit finishedCreateApacheService(true);
        break;
    case StartRails:
        emit finishedStartRails(true);
        break;
    case StartApache:
        emit finishedStartApache(true);
        break;
    }
}

void ConfigurationPage::failStep(const QString &text, const QString &logLine)
{
    QMessageBox::critical(this, boxTitle(), text);
    if (!logLine.isEmpty())
        appendLog(logLine);
    emit errorInConfiguration(false);
}

bool ConfigurationPage::connectDatabase(const QString &user, const QString &password,
                                        const QString &name)
{
    query = QSqlQuery();
    if (!database.isValid())
        database = QSqlDatabase::addDatabase(kDriver, kConnectionName);
    database.close();
    database.setHostName(kLoopback);
    database.setPort(tools.layout().postgresPort());
    database.setUserName(user);
    database.setPassword(password);
    database.setDatabaseName(name);
    database.setConnectOptions(QStringLiteral("options = --client_min_messages=WARNING"));
    if (!database.open())
        return false;
    query = QSqlQuery(database);
    return true;
}

bool ConfigurationPage::execute(const QString &statement)
{
    query.clear();
    if (query.exec(statement))
        return true;
    const QString error = query.lastError().text();
    failStep(error, tr(" FAILED :  %1  \n").arg(error));
    return false;
}

bool ConfigurationPage::loadBatch(const QString &fileName, const QString &boxText,
                                  const QString &logLine)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        failStep(boxText, logLine);
        return false;
    }
    const QByteArray bytes = file.readAll();
    return execute(QString::fromLatin1(bytes.constData(), bytes.size()));
}

void ConfigurationPage::setupDatabase(bool status)
{
    if (!status)
        return;
    stepFailed = false;
    currentStep = SetupDatabase;
    progressBar->setValue(50);

    appendLog(tr("\n Connect to database server ... \n"));
    if (!connectDatabase(kTmpUser, QString(), QStringLiteral("template1"))) {
        const QString error = database.lastError().text();
        failStep(error, tr(" FAILED :  %1  \n").arg(error));
        return;
    }
    appendLog(tr("\n Connected successfully \n"));

    const QString rootUser = textField("dbRootUsername");
    const QString serverUser = textField("dbKelvarixServerUsername");
    const QString managerUser = textField("managerUsername");
    const QString managerPassword = textField("managerPassword");

    appendLog(tr("\n Create database server root account ... "));
    if (!execute(SetupSql::createRootRole(rootUser, textField("dbRootPassword"))))
        return;
    appendLog(tr(" DONE \n"));
    progressBar->setValue(60);

    appendLog(tr("\n Create required groups ... "));
    if (!execute(QStringLiteral("CREATE GROUP zvn")))
        return;
    appendLog(tr(" DONE \n"));

    appendLog(tr("\n Create database account for Kelvarix Server ... "));
    if (!execute(SetupSql::createServerRole(serverUser, textField("dbKelvarixServerPassword"))))
        return;
    appendLog(tr(" DONE \n"));
    progressBar->setValue(70);

    appendLog(tr("\n Create database ... "));
    if (!execute(QStringLiteral("DROP DATABASE IF EXISTS zvndb")) ||
        !execute(SetupSql::createDatabase(serverUser)) ||
        !execute(QStringLiteral("REVOKE CONNECT,TEMPORARY ON DATABASE zvndb FROM PUBLIC")))
        return;
    if (!connectDatabase(kTmpUser, QString(), QStringLiteral("zvndb"))) {
        const QString error = database.lastError().text();
        failStep(error, tr(" FAILED :  %1  \n").arg(error));
        return;
    }
    appendLog(tr(" DONE \n"));
    progressBar->setValue(80);

    appendLog(tr(" \n Create database structure ... "));
    if (!loadBatch(tools.layout().structureFile(), tr("Unable to read database structure file"),
                   tr(" FAILED : Unable to read database structure file \n")) ||
        !loadBatch(tools.layout().defaultValuesFile(),
                   tr("Unable to load database default values file"),
                   tr(" FAILED: Unable to load database default values file \n")))
        return;
    appendLog(tr(" DONE \n"));

    appendLog(tr("\n Create Kelvarix administrator account and set privileges ... "));
    if (!execute(SetupSql::createManagerRole(managerUser, managerPassword)) ||
        !execute(SetupSql::grantConnect(managerUser)) ||
        !execute(SetupSql::insertAdministrator(managerUser, managerPassword)))
        return;
    appendLog(tr(" DONE \n"));
    progressBar->setValue(90);

    appendLog(tr(" \n Configure client authentication ... "));
    if (!writeConfigurationFiles())
        return;
    appendLog(tr(" DONE \n"));

    appendLog(tr("\n Kelvarix Server configuration has been completed successfully !!! \n"));
    // Still step 3: the reload's completion ends the database set-up.
    tools.postgres(ServerTools::Postgres::Reload).startOn(*process);
    stepTimer->start(kWaitMs);
}

bool ConfigurationPage::rewriteFile(const QString &fileName,
                                    const std::function<QString(const QString &)> &fill)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    return file.write(fill(text).toUtf8()) >= 0;
}

bool ConfigurationPage::writeConfigurationFiles()
{
    const ServerLayout &layout = tools.layout();
    const QString serverUser = textField("dbKelvarixServerUsername");
    const QString serverPassword = textField("dbKelvarixServerPassword");
    const QString address = textField("httpAddress");

    SetupFiles::Accounts accounts;
    accounts.rootUser = textField("dbRootUsername");
    accounts.serverUser = serverUser;
    accounts.managerUser = textField("managerUsername");
    accounts.managerHost = textField("managerHost");
    accounts.ownerAccount = PostgresControl::ownerAccount();
    QFile hba(layout.pgHbaFile());
    hba.remove();
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Text) ||
        hba.write(SetupFiles::pgHba(accounts).toUtf8()) < 0) {
        failStep(tr("Unable to create postgres configuration file (pg_hba.conf) "),
                 tr(" FAILED :  Unable to create postgres configuration file (pg_hba.conf)  \n"));
        return false;
    }
    hba.close();
    // The cluster's owner must keep reading it, and nobody else need.
    const QFileInfo cluster(layout.clusterDir());
    if (geteuid() == 0 && chown(QFile::encodeName(hba.fileName()).constData(), cluster.ownerId(),
                                cluster.groupId()) != 0)
        qWarning("cannot give %s to the cluster's owner", qPrintable(hba.fileName()));
    hba.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    if (!rewriteFile(layout.serverIniFile(), [&](const QString &text) {
            return SetupFiles::filledServerIni(text, serverUser, serverPassword,
                                               layout.postgresPort());
        })) {
        failStep(tr("Unable to open Kelvarix Server configuration file"),
                 tr(" FAILED :  Unable to open Kelvarix Server configuration file \n"));
        return false;
    }
    if (!rewriteFile(layout.databaseYmlFile(), [&](const QString &text) {
            return SetupFiles::filledDatabaseYml(text, serverUser, serverPassword);
        })) {
        failStep(tr("Unable to open Rails database.yml configuration file"),
                 tr(" FAILED :  Unable to open Rails database.yml configuration file \n"));
        return false;
    }
    if (!rewriteFile(layout.applicationYmlFile(), [&](const QString &text) {
            return SetupFiles::filledApplicationYml(text, address, layout.uploadDir());
        })) {
        failStep(tr("Unable to open Rails application.yml configuration file"),
                 tr(" FAILED :  Unable to open Rails application.yml configuration file \n"));
        return false;
    }

    QFile script(layout.startRailsServerFile());
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
        script.write(SetupFiles::startRailsServer(applicationDir, layout.webManagerStartProgram(),
                                                  address, layout.webManagerPort(),
                                                  layout.postgresPort())
                         .toUtf8()) < 0) {
        failStep(tr("Unable to create rails startup file"), QString());
        return false;
    }
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                          QFileDevice::ExeOther);
    return true;
}

void ConfigurationPage::configureWebServer(const QString &port)
{
    QFile file(tools.layout().httpdConfFile());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::information(this, tr("Configuration Wizard"),
                                 tr("Unable to open Apache configuration file"));
        return;
    }
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    const QString address = textField("httpAddress");
    const QString block =
        SetupFiles::virtualHost(port, address, applicationDir, tools.layout().webManagerPort());
    const QString conf = SetupFiles::filledHttpdConf(text, address, port, httpdDir, block);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
        file.write(conf.toUtf8()) < 0) {
        QMessageBox::information(this, QString(), file.fileName());
        return;
    }
}
