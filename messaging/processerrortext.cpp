#include "processerrortext.h"

QString processErrorText(QProcess::ProcessError error)
{
    switch (error) {
    case QProcess::FailedToStart:
        return QStringLiteral("FailedTostart Error");
    case QProcess::Crashed:
        return QStringLiteral("Crash Error");
    case QProcess::Timedout:
        return QStringLiteral("Timedout");
    case QProcess::ReadError:
        return QStringLiteral("ReadError");
    case QProcess::WriteError:
        return QStringLiteral("WriteError");
    case QProcess::UnknownError:
        break;
    }
    return QStringLiteral("UnKnown Error");
}
