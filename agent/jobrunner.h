#pragma once

#include "command.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <memory>

class ServerSender;
class ShellStart;
template <typename T> class QFutureWatcher;

// How long unpacking a deployed archive may block the connection.
constexpr int kUnzipTimeoutMs = 30000;
// Separates the parts of a deployment's or removal's text.
extern const char kSplitTag[];

// Runs the job a server response carries, on the connection that received it, and sends the
// job's one report: command lines, on-demand inventories, deployments and removals.
class JobRunner : public QObject
{
    Q_OBJECT
public:
    explicit JobRunner(ServerSender *sender);
    ~JobRunner() override;

    // Starts the job; false when this agent has no handler for the type, in which case the
    // sender answers that it did not understand and closes.
    bool run(const Command &job);

    // The first `count` parts of a job's text; parts the text does not hold are empty.
    static QStringList textParts(const QString &text, int count);
    // A name the server gives a file, which must stay inside the directory it is placed in.
    static bool isPlainFileName(const QString &name);
    static QString processErrorText(QProcess::ProcessError error);
    // Creates "upload" below the working directory and a new directory inside it, named by the
    // clock; empty when either cannot be created.
    static QString freshUploadDirectory();

private slots:
    void operationFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void operationError(QProcess::ProcessError error);
    void inventoryCompleted();
    void connectionClosed();

private:
    void commandLine(const QString &text);
    void inventory(const QString &flags);
    void deploy(const Command &job);
    void undeploy(const Command &job);
    // Starts the job's process; false (and the job failed) on a connection that has none.
    bool startProcess(const QString &program, const QStringList &arguments);
    void reportShellStart(int shellResult);
    void reportFailure(const QString &message, const QString &payload = QString());

    ServerSender *sender;
    std::unique_ptr<ShellStart> shell;
    QProcess *process = nullptr;
    QFutureWatcher<QString> *inventoryWatcher = nullptr;
};
