#pragma once

#include "servertools.h"

#include <QProcess>
#include <QWizardPage>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

// The uninstaller: stops the database server, stops the web server and removes its service,
// and stops the web manager — a chain of steps on one QProcess, like the configuration run.
// It removes no files and no database.
class UninstallerPage : public QWizardPage
{
    Q_OBJECT
public:
    enum Step {
        StopDB = 0,
        RemoveDB = 1,
        StopApache = 2,
        RemoveApacheService = 3,
        StopRails = 4,
    };

    explicit UninstallerPage(const ServerLayout &layout, QWidget *parent = nullptr);

    bool validatePage() override;

    bool isUninstalled() const;
    QString logText() const;
    QString labelText() const;
    int progressValue() const;

signals:
    void finishedStopDB(bool status);
    void finishedRemoveDB(bool status);
    void finishedStopRails(bool status);
    void finishedStopApache(bool status);
    void finishedRemoveApacheService(bool status);
    void errorInUninstallation(bool status);

public slots:
    void storeStandardOutput();
    void storeStandardError();
    void operationFinished(int code, QProcess::ExitStatus status);
    void operationError(QProcess::ProcessError error);
    void stopDBServer(bool status);
    void removeDatabase(bool status);
    void stopApacheServer(bool status);
    void removeApacheService(bool status);
    void stopRailsServer(bool status);
    void finishUninstall(bool status);

    // A waited step that overran: the chain ends instead of hanging on it.
    void stepTimedOut();

private:
    void runStep(int step, int progress, const QString &heading, const ToolCommand &command);
    void logMessage(const QString &text);
    void stopRailsProcess();

    QLabel *label = nullptr;
    QProgressBar *progressBar = nullptr;
    QPlainTextEdit *plainTextEdit = nullptr;
    bool uninstalled = false;
    bool stepFailed = false;
    int currentStep = StopDB;
    QProcess *process = nullptr;
    QString baseDir;
    QString postgresDir;
    QString httpdDir;
    QString applicationDir;
    QString lastOutput;

    ServerTools tools;
    QTimer *stepTimer = nullptr;
    // Set while the web manager's process id is looked up: that command's end is not the end
    // of the step, which comes once the process has been stopped.
    bool lookingUpPid = false;
};
