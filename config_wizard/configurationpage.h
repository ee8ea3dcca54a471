#pragma once

#include "servertools.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QWizardPage>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

// The configuration run: creates and starts the database cluster, creates the accounts and
// the database, writes the client authentication and the configuration files and installs the
// web server's service. The steps are chained through the page's own signals and run one
// command each on one QProcess; the user starts the run with "Execute" and follows it in the
// log area.
class ConfigurationPage : public QWizardPage
{
    Q_OBJECT
public:
    // Codes of the steps, and the signal each one's completion emits.
    enum Step {
        CreateCluster = 0,
        StartServer = 1,
        CreateTmpUser = 2,
        SetupDatabase = 3,
        CreatePostgresService = 4,
        CreateApacheService = 5,
        StartRails = 6,
        StartApache = 7,
    };

    explicit ConfigurationPage(const ServerLayout &layout, QWidget *parent = nullptr);
    ~ConfigurationPage() override;

    bool validatePage() override;
    int nextId() const override;

    // Rewrites httpd.conf from the typed address and this port.
    void configureWebServer(const QString &port);
    void appendLog(const QString &text);

    bool isConfigured() const;
    QString logText() const;
    QString labelText() const;
    int progressValue() const;

signals:
    void finishedCluster(bool status);
    void finishedServerStartup(bool status);
    void finishedTmpUserSetup(bool status);
    void finishedDatabaseSetup(bool status);
    void finishedCreatePostgresService(bool status);
    void finishedCreateApacheService(bool status);
    void finishedStartRails(bool status);
    void finishedStartApache(bool status);
    void errorInConfiguration(bool status);

public slots:
    void storeStandardOutput();
    void storeStandardError();
    void operationFinished(int code, QProcess::ExitStatus status);
    void operationError(QProcess::ProcessError error);
    void startDBServer(bool status);
    void createTmpUser(bool status);
    void setupDatabase(bool status);
    void createPostgresService(bool status);
    void createApacheService(bool status);
    void startApacheServer(bool status);
    void startRailsServer(bool status);
    void finishConfig(bool status);

    // A waited step that overran: the run ends instead of hanging on it.
    void stepTimedOut();

private slots:
    void deleteTmpUser(bool status);

private:
    void createCluster();
    void dropTmpUser();
    void runStep(int step, const ToolCommand &command, bool waited);
    bool connectDatabase(const QString &user, const QString &password, const QString &name);
    bool execute(const QString &statement);
    bool loadBatch(const QString &fileName, const QString &boxText, const QString &logText);
    bool writeConfigurationFiles();
    bool rewriteFile(const QString &fileName, const std::function<QString(const QString &)> &fill);
    void failStep(const QString &text, const QString &logLine);
    QString textField(const char *name) const;
    void setNextEnabled(bool enabled);

    QLabel *label = nullptr;
    QProgressBar *progressBar = nullptr;
    QPlainTextEdit *logEdit = nullptr;
    QProcess *process = nullptr;
    bool configured = false;
    bool stepFailed = false;
    int currentStep = CreateCluster;
    QString postgresDir;
    QString httpdDir;
    QString applicationDir;
    QSqlDatabase database;
    QSqlQuery query;

    ServerTools tools;
    QTimer *stepTimer = nullptr;
};
