#include "uninstallerpage.h"

#include "processerrortext.h"
#include "stepform.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QWizard>

namespace
{

constexpr int kWaitMs = 30000;

} // namespace

UninstallerPage::UninstallerPage(const ServerLayout &layout, QWidget *parent)
    : QWizardPage(parent), tools(layout)
{
    const StepForm form =
        StepForm::build(this, tr("Press \"Execute\" to uninstall all KELVARiX services ..."));
    label = form.label;
    progressBar = form.progressBar;
    plainTextEdit = form.log;
    process = form.process;
    stepTimer = form.stepTimer;
    baseDir = layout.baseDir();
    postgresDir = layout.postgresDir();
    httpdDir = layout.httpdDir();
    applicationDir = layout.applicationDir();
    form.connectTo(this);

    connect(this, &UninstallerPage::finishedStopDB, this, &UninstallerPage::removeDatabase);
    connect(this, &UninstallerPage::finishedRemoveDB, this, &UninstallerPage::stopApacheServer);
    connect(this, &UninstallerPage::finishedStopApache, this,
            &UninstallerPage::removeApacheService);
    connect(this, &UninstallerPage::finishedRemoveApacheService, this,
            &UninstallerPage::stopRailsServer);
    connect(this, &UninstallerPage::finishedStopRails, this, &UninstallerPage::finishUninstall);
    connect(this, &UninstallerPage::errorInUninstallation, this, &UninstallerPage::finishUninstall);

    setButtonText(QWizard::FinishButton, tr("Execute"));
    progressBar->setValue(0);
}

bool UninstallerPage::isUninstalled() const
{
    return uninstalled;
}

QString UninstallerPage::logText() const
{
    return plainTextEdit->toPlainText();
}

QString UninstallerPage::labelText() const
{
    return label->text();
}

int UninstallerPage::progressValue() const
{
    return progressBar->value();
}

void UninstallerPage::logMessage(const QString &text)
{
    plainTextEdit->moveCursor(QTextCursor::End);
    plainTextEdit->insertPlainText(QStringLiteral("\n%1\n").arg(text));
    plainTextEdit->verticalScrollBar()->setValue(plainTextEdit->verticalScrollBar()->maximum());
}

bool UninstallerPage::validatePage()
{
    if (uninstalled)
        return true;
    plainTextEdit->clear();
    label->setText(tr("Kelvarix services uninstallation in progress ..."));
    logMessage(tr("Start Kelvarix services uninstallation ... "));
    stopDBServer(true);
    return false;
}

void UninstallerPage::runStep(int step, int progress, const QString &heading,
                              const ToolCommand &command)
{
    stepFailed = false;
    currentStep = step;
    progressBar->setValue(progress);
    if (!heading.isEmpty())
        logMessage(heading);
    command.startOn(*process);
    stepTimer->start(kWaitMs);
}

void UninstallerPage::stopDBServer(bool status)
{
    if (!status)
        return;
    runStep(StopDB, 10, tr("Stop database server ... "),
            tools.postgres(ServerTools::Postgres::Stop));
}

void UninstallerPage::removeDatabase(bool status)
{
    if (!status)
        return;
    stepFailed = false;
    currentStep = RemoveDB;
    progressBar->setValue(40);
    emit finishedRemoveDB(true);
}

void UninstallerPage::stopApacheServer(bool status)
{
    if (!status)
        return;
    runStep(StopApache, 60, tr("Stop apache server ... "), tools.httpd(ServerTools::Httpd::Stop));
}

void UninstallerPage::removeApacheService(bool status)
{
    if (!status)
        return;
    runStep(RemoveApacheService, 80, tr("Remove apache service ... "),
            tools.httpd(ServerTools::Httpd::Uninstall));
}

void UninstallerPage::stopRailsServer(bool status)
{
    if (!status)
        return;
    // Only what this lookup prints counts, not what an earlier step left behind.
    lastOutput.clear();
    lookingUpPid = true;
    runStep(StopRails, 90, QString(), tools.webManagerPid(ServerTools::uninstallerSeparator()));
}

void UninstallerPage::stopRailsProcess()
{
    const qint64 pid = ServerTools::pidFromOutput(lastOutput, ServerTools::uninstallerSeparator());
    // No id (or a nonsensical one) means nothing to stop: a signal to 0 or below would reach
    // a whole process group.
    if (pid < 1) {
        logMessage(tr("Rails server is already stopped ..."));
        emit finishedStopRails(true);
        return;
    }
    runStep(StopRails, 90, QString(), tools.terminate(pid, false));
}

void UninstallerPage::finishUninstall(bool status)
{
    stepTimer->stop();
    lookingUpPid = false;
    if (!status) {
        label->setText(tr("Kelvarix services uninstallation , problem see log ..."));
        return;
    }
    label->setText(tr("Kelvarix services have been uninstalled successfully"));
    setButtonText(QWizard::FinishButton, tr("Finish"));
    progressBar->setValue(100);
    uninstalled = true;
}

void UninstallerPage::storeStandardOutput()
{
    const QByteArray bytes = process->readAllStandardOutput();
    lastOutput = QString::fromLocal8Bit(bytes);
    logMessage(lastOutput);
}

void UninstallerPage::storeStandardError()
{
    const QByteArray bytes = process->readAllStandardError();
    logMessage(QString::fromLocal8Bit(bytes));
}

void UninstallerPage::operationError(QProcess::ProcessError error)
{
    stepTimer->stop();
    stepFailed = true;
    logMessage(tr("\n Process Error: ") + processErrorText(error));
    emit errorInUninstallation(false);
}

void UninstallerPage::stepTimedOut()
{
    logMessage(tr("\n Process Error: ") + processErrorText(QProcess::Timedout));
    stepFailed = true;
    process->kill();
}

void UninstallerPage::operationFinished(int code, QProcess::ExitStatus status)
{
    Q_UNUSED(code)
    stepTimer->stop();
    process->close();
    if (status == QProcess::CrashExit || stepFailed) {
        emit errorInUninstallation(false);
        return;
    }
    switch (currentStep) {
    case StopDB:
        emit finishedStopDB(true);
        break;
    case RemoveDB:
        emit finishedRemoveDB(true);
        break;
    case StopApache:
        emit finishedStopApache(true);
        break;
    case RemoveApacheService:
        emit finishedRemoveApacheService(true);
        break;
    case StopRails:
        if (lookingUpPid) {
            lookingUpPid = false;
            stopRailsProcess();
        } else {
            emit finishedStopRails(true);
        }
        break;
    }
}
