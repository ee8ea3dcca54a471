#pragma once

#include <QProcess>
#include <QString>

// The texts the set-up pages log for a command that could not run to its end.
QString processErrorText(QProcess::ProcessError error);
