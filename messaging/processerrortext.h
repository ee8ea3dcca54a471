#pragma once

#include <QProcess>
#include <QString>

// The text logged for a command that could not run to its end: by the agent for a job, by
// the server machine's set-up and services programs for their tools.
QString processErrorText(QProcess::ProcessError error);
