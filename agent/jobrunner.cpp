#include "jobrunner.h"

#include "agentlog.h"
#include "inventorydocument.h"
#include "invprobe.h"
#include "processerrortext.h"
#include "serversender.h"
#include "shellstart.h"
#include "uninstallcommand.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent>

const char kSplitTag[] = "<SPLITAG>";

namespace
{

// Command lines that go to the Windows command interpreter are started and not waited for.
const QString kDetachedPrefix = QStringLiteral("cmd.exe");
const QString kWindowsInstaller = QStringLiteral("msiexec.exe");
const QString kNotRemoved = QStringLiteral("No package found or Execution failed");
const QString kUnzipProgram = QStringLiteral("unzip");

QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

} // namespace

JobRunner::JobRunner(ServerSender *sender)
    : QObject(sender), sender(sender), shell(ShellStart::create())
{
    connect(sender, &Sender::closed, this, &JobRunner::connectionClosed);
}

JobRunner::~JobRunner()
{
    // The agent is going away with a job still running: end it rather than leave it orphaned.
    connectionClosed();
}

bool JobRunner::run(const Command &job)
{
    switch (job.type) {
    case CommandType::CommandLine:
        commandLine(commandText(job));
        return true;
    case CommandType::Inventory:
        inventory(commandText(job));
        return true;
    case CommandType::Deploy:
    case CommandType::DeployWithSwitches:
        deploy(job);
        return true;
    case CommandType::Undeploy:
    case CommandType::UndeployWithSwitches:
        undeploy(job);
        return true;
    default:
        qCDebug(lcAgent) << "no handler for job type" << job.type;
        return false;
    }
}

QStringList JobRunner::textParts(const QString &text, int count)
{
    QStringList parts = text.split(QLatin1String(kSplitTag), Qt::KeepEmptyParts);
    // The 100-byte field may have cut the text before a separator.
    while (parts.size() < count)
        parts.append(QString());
    return parts.mid(0, count);
}

bool JobRunner::isPlainFileName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1String(".."));
}

QString JobRunner::processErrorText(QProcess::ProcessError error)
{
    return ::processErrorText(error);
}

QString JobRunner::freshUploadDirectory()
{
    QDir cwd = QDir::current();
    const QString upload = QLatin1String(kUploadDirName);
    if (!cwd.exists(upload) && !cwd.mkdir(upload))
        return QString();
    const QString base = cwd.absolutePath() + QLatin1Char('/') + upload + QLatin1Char('/');
    QString candidate;
    do {
        candidate = base + QString::number(QDateTime::currentMSecsSinceEpoch());
    } while (QFileInfo::exists(candidate));
    return QDir().mkdir(candidate) ? candidate : QString();
}

void JobRunner::commandLine(const QString &text)
{
    sender->logMessage(QStringLiteral("Command Line Execution: ") + text);
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(kDetachedPrefix)) {
        QStringList arguments = QProcess::splitCommand(trimmed);
        const QString program = arguments.takeFirst();
        if (shell->start(program, arguments) <= kShellStartedAbove) {
            // Reporting success for a program that never started would hide the failure.
            reportFailure(QStringLiteral("Process Error: ") +
                              processErrorText(QProcess::FailedToStart),
                          processErrorText(QProcess::FailedToStart));
            return;
        }
        sender->sendReport(sender->makeCommand(CommandType::JobResult, ResultCode::Succeeded));
        sender->finishExchange(true);
        return;
    }
    QStringList arguments = QProcess::splitCommand(text);
    const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    startProcess(program, arguments);
}

bool JobRunner::startProcess(const QString &program, const QStringList &arguments)
{
    if (!sender->agent) {
        // Alarm connections belong to the worker and run no programs.
        reportFailure(QStringLiteral("Process Error: no process on an alarm connection"));
        return false;
    }
    process = new QProcess(this);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &JobRunner::operationFinished);
    connect(process, &QProcess::errorOccurred, this, &JobRunner::operationError);
    process->start(program, arguments, QIODevice::ReadWrite);
    // Nothing is ever written to a job's input; a program that reads it sees its end at once
    // instead of waiting for ever.
    process->closeWriteChannel();
    return true;
}

void JobRunner::operationFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode)
    const quint8 type = sender->currentType == CommandType::Inventory ? CommandType::InventoryResult
                                                                      : CommandType::JobResult;
    Command report;
    if (exitStatus == QProcess::CrashExit) {
        sender->logMessage(QStringLiteral("Process Error"));
        report = sender->makeCommand(type, ResultCode::Failed);
    } else {
        sender->logMessage(QStringLiteral("Command Executed"));
        report = sender->makeCommand(type, ResultCode::Succeeded);
        report.payload = latin1(process->readAllStandardOutput()) + QLatin1Char('\n') +
                         latin1(process->readAllStandardError());
    }
    report.payloadLength = report.payload.size();
    sender->sendReport(report);
    sender->finishExchange(true);
}

void JobRunner::operationError(QProcess::ProcessError error)
{
    const QString text = processErrorText(error);
    sender->logMessage(QStringLiteral("Process Error: ") + text);
    Command report = sender->makeCommand(CommandType::JobResult, ResultCode::Failed);
    report.payload = text;
    report.payloadLength = report.payload.size();
    sender->writeReport(report);
    sender->finishExchange(true);
}

void JobRunner::connectionClosed()
{
    // The server ended the exchange before the job did; nobody is left to hear its result.
    if (inventoryWatcher)
        inventoryWatcher->disconnect(this);
    if (process && process->state() != QProcess::NotRunning) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
    }
}

void JobRunner::inventory(const QString &flags)
{
    sender->logMessage(QStringLiteral("Inventory Execution"));
    inventoryWatcher = new QFutureWatcher<QString>(this);
    connect(inventoryWatcher, &QFutureWatcher<QString>::finished, this,
            &JobRunner::inventoryCompleted);
    inventoryWatcher->setFuture(QtConcurrent::run(inventoryDocument, flags));
}

void JobRunner::inventoryCompleted()
{
    const QByteArray bytes = inventoryWatcher->result().toUtf8();
    Command report = sender->makeCommand(CommandType::InventoryResult, ResultCode::Failed);
    if (!bytes.isEmpty()) {
        sender->logMessage(QStringLiteral("Command Executed"));
        report.payload = latin1(bytes);
        report.value = ResultCode::Succeeded;
    } else {
        sender->logMessage(QStringLiteral("Process Error"));
    }
    report.payloadLength = report.payload.size();
    sender->sendReport(report);
    sender->finishExchange(true);
}

void JobRunner::deploy(const Command &job)
{
    sender->logMessage(QStringLiteral("Start deployment"));
    const QStringList parts = textParts(commandText(job), 3);
    const QString &package = parts[0];
    const QString &program = parts[1];
    const QString &switches = parts[2];

    // Names come from the server and are placed in a fresh directory; none may leave it.
    if (!isPlainFileName(package) || (!program.isEmpty() && !isPlainFileName(program))) {
        QFile::remove(sender->fileName);
        reportFailure(QStringLiteral("Refused deployment: package \"%1\" or program \"%2\" is "
                                     "not a plain file name")
                          .arg(package, program));
        return;
    }
    const QString dir = freshUploadDirectory();
    if (dir.isEmpty()) {
        QFile::remove(sender->fileName);
        reportFailure(QStringLiteral("Unable to create directory: %1")
                          .arg(QDir::current().filePath(QLatin1String(kUploadDirName))));
        return;
    }
    const QString target = dir + QLatin1Char('/') + package;
    if (!QFile::rename(sender->fileName, target)) {
        reportFailure(QStringLiteral("Unable to move %1 to %2").arg(sender->fileName, target));
        return;
    }

    if (package.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) {
        QProcess unzip;
        unzip.start(kUnzipProgram, {QStringLiteral("-qq"), target, QStringLiteral("-d"), dir});
        unzip.closeWriteChannel();
        // The program step runs whatever unzip made of the archive.
        if (!unzip.waitForFinished(kUnzipTimeoutMs) || unzip.exitStatus() != QProcess::NormalExit ||
            unzip.exitCode() != 0)
            qCWarning(lcAgent) << "unzip of" << target << "failed:" << unzip.errorString()
                               << latin1(unzip.readAllStandardError());
    }

    if (program.endsWith(QLatin1String(".msi"))) {
        QString parameters = QLatin1Char('"') + dir + QLatin1Char('/') + program +
                             QLatin1Char(' ') + switches + QLatin1Char('"');
        parameters.replace(QLatin1Char('/'), QLatin1Char('\\'));
        reportShellStart(shell->open(kWindowsInstaller, QStringLiteral("/i ") + parameters));
    } else if (job.value == 1) {
        const QString path = dir + QLatin1Char('/') + program;
        sender->logMessage(path + QLatin1Char(' ') + switches);
        startProcess(path, QProcess::splitCommand(switches));
    } else {
        reportShellStart(shell->open(dir + QLatin1Char('/') + program, switches));
    }
}

void JobRunner::reportShellStart(int shellResult)
{
    const quint16 result =
        shellResult > kShellStartedAbove ? ResultCode::Succeeded : ResultCode::Failed;
    sender->sendReport(sender->makeCommand(CommandType::JobResult, result));
    // The server ends this exchange; the installer may still be running.
    sender->lingerForServerClose();
}

void JobRunner::undeploy(const Command &job)
{
    sender->logMessage(QStringLiteral("Un-Deploy application"));
    const QStringList parts = textParts(commandText(job), 2);
    const QString &name = parts[0];
    const QString &extra = parts[1];

    QString location;
    const UninstallCommand command =
        find_uninstaller_location(name, location) < 0
            ? UninstallCommand::fromName(name, extra)
            : UninstallCommand::fromLocation(location, extra, isExistingFile);
    Command report = sender->makeCommand(CommandType::JobResult, ResultCode::Failed);
    report.payload = kNotRemoved;
    if (shell->open(command.program, command.parameters) > kShellStartedAbove) {
        report.value = ResultCode::Succeeded;
        report.payload = command.line();
    }
    report.payloadLength = report.payload.size();
    sender->sendReport(report);
    sender->finishExchange(true);
}

void JobRunner::reportFailure(const QString &message, const QString &payload)
{
    sender->logMessage(message);
    Command report = sender->makeCommand(CommandType::JobResult, ResultCode::Failed);
    report.payload = payload;
    report.payloadLength = report.payload.size();
    sender->sendReport(report);
    sender->finishExchange(true);
}
