#pragma once

#include <QString>

// Process ids read from pid files and checked in /proc, so that a file left behind by a crash
// never names whatever program later got the same id. Signals go to one checked id only:
// never to 0 or below, which would reach a whole process group or every process.
class ProcessCheck
{
public:
    // The number in a pid file; 0 when the file is missing or holds no positive number.
    static qint64 readPidFile(const QString &fileName);
    // The id is a live process: present in /proc and not a zombie waiting to be reaped.
    static bool isAlive(qint64 pid);
    // The process's command name (/proc/<pid>/comm), empty when there is none.
    static QString commandName(qint64 pid);
    // The id from the pid file when that process lives and, given a name, is called so.
    static qint64 runningPid(const QString &pidFile, const QString &expectedName = QString());
    // SIGTERM, or SIGKILL when forced; false with a reason for ids below 1 or a failed kill.
    static bool sendSignal(qint64 pid, bool force, QString *error = nullptr);
};
