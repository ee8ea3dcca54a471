#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The names the tool accepts and prints for job commands, schedule types, assignment states
// and notice types. Pure lookups, so that every output line and option stays the same
// from one release to the next.
class JobCodes
{
public:
    // A command given by name ("inventory", "command-line", ...) or as a number 0-255;
    // -1 when it is neither.
    static int commandCode(const QString &text);
    // The name of a command code; the number itself for a code without a name.
    static QString commandName(int code);
    // The job codes the agent runs (the ones with a name above).
    static bool isJobCommand(int code);
    // Commands whose second parameter names an application.
    static bool usesApplication(int code);
    // Alarm rules: the server sends the code itself as the rule id.
    static bool isAlarmRule(int code);

    // A schedule type by name ("minutes", ..., "immediately", "online", "once",
    // "new-machines") or number 0-8; -1 otherwise.
    static int scheduleType(const QString &text);
    static QString scheduleName(int type);
    // Types 0-4 repeat every scheduleCount units.
    static bool isRepeating(int type);

    // A schedule date: "now", a relative time such as "+90s", "-2h", "+5m", "+1d", or
    // "yyyy-MM-dd hh:mm:ss" / "yyyy-MM-ddThh:mm:ss" (local time). Invalid when unreadable.
    static QDateTime scheduleDate(const QString &text, const QDateTime &now);

    // Assignment status codes (235 pending, 236 succeeded, ...); the number for others.
    static QString statusName(int status);
    // job_machines.active: 0 waiting, 1 dispatched, 2 finished.
    static QString activeName(int active);

    // The name of a Command type seen in a notice to managers.
    static QString noticeTypeName(int type);

    // Inventory section flags: ten characters "1" or "0".
    static bool isInventoryFlags(const QString &text);
    static const QString allInventorySections;

    static QStringList commandNames();
    static QStringList scheduleNames();
};
