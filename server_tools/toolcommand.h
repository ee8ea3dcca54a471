#pragma once

#include <QString>
#include <QStringList>

class QProcess;

// One command line of the server machine's tools, ready for a caller's QProcess.
struct ToolCommand {
    QString program;
    QStringList arguments;

    bool isValid() const;
    // The command as a shell would show it, for logs.
    QString text() const;
    // Starts it on the caller's process (asynchronously).
    void startOn(QProcess &process) const;
};
