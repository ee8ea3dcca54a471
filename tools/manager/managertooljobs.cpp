// Jobs and their assignments, written the way the web manager writes them: one jobs row,
// one job_machines row per machine, waiting (active 0) and pending (235).
#include "command.h"
#include "datetimetext.h"
#include "jobcodes.h"
#include "managertool.h"
#include "sqltext.h"
#include "toolarguments.h"

#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <climits>

namespace
{

constexpr int kPollIntervalMs = 250;
constexpr int kDefaultJobWaitSeconds = 300;
constexpr int kReportColumnChars = 60;
constexpr int kMaxValue = 65535; // the Command's 16-bit value
constexpr int kMaxFlag = 255;    // the Command's 8-bit flag

QString field(const QSqlRecord &row, const char *name)
{
    return row.value(QLatin1String(name)).toString();
}

bool isFinished(const QSqlRecord &assignment)
{
    const QVariant status = assignment.value(QStringLiteral("status"));
    return !status.isNull() && status.toInt() != ResultCode::Pending;
}

QString reportColumn(const QString &report)
{
    QString line = report.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (line.size() > kReportColumnChars)
        line = line.left(kReportColumnChars - 3) + QStringLiteral("...");
    return line;
}

} // namespace

int ManagerTool::addJob(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("cmd"), QStringLiteral("text"), QStringLiteral("prm"),
                          QStringLiteral("prm2"), QStringLiteral("application"),
                          QStringLiteral("schedule"), QStringLiteral("date"),
                          QStringLiteral("every")},
                         {});
    if (!parseArguments(parser, args, 0, -1))
        return exitCode;
    if (!parser.isSet(QStringLiteral("cmd")))
        return fail(Usage, QStringLiteral("add-job needs --cmd (one of %1, or a number)")
                               .arg(JobCodes::commandNames().join(QStringLiteral(", "))));
    const int cmd = JobCodes::commandCode(parser.value(QStringLiteral("cmd")));
    if (cmd < 0)
        return fail(Usage, QStringLiteral("unknown command \"%1\"; one of %2, or a number 0-255")
                               .arg(parser.value(QStringLiteral("cmd")),
                                    JobCodes::commandNames().join(QStringLiteral(", "))));
    const int scheduleType = JobCodes::scheduleType(
        parser.value(QStringLiteral("schedule"), QStringLiteral("immediately")));
    if (scheduleType < 0)
        return fail(Usage, QStringLiteral("unknown schedule \"%1\"; one of %2, or 0-8")
                               .arg(parser.value(QStringLiteral("schedule")),
                                    JobCodes::scheduleNames().join(QStringLiteral(", "))));
    int prm = 0;
    int prm2 = 0;
    int application = 0;
    int every = JobCodes::isRepeating(scheduleType) ? 1 : 0;
    if (!parser.number(QStringLiteral("prm"), 0, kMaxValue, &prm) ||
        !parser.number(QStringLiteral("prm2"), 0, kMaxFlag, &prm2) ||
        !parser.number(QStringLiteral("application"), 1, kMaxFlag, &application) ||
        !parser.number(QStringLiteral("every"), JobCodes::isRepeating(scheduleType) ? 1 : 0,
                       INT_MAX, &every))
        return fail(Usage, parser.errorText());
    if (application > 0) {
        if (parser.isSet(QStringLiteral("prm2")) && prm2 != application)
            return fail(Usage, QStringLiteral("--application and --prm2 name the same parameter"));
        prm2 = application;
    }
    if (JobCodes::usesApplication(cmd) && prm2 == 0)
        return fail(Usage,
                    QStringLiteral("%1 needs --application ID").arg(JobCodes::commandName(cmd)));

    QString text = parser.value(QStringLiteral("text"));
    if (cmd == CommandType::Inventory) {
        if (!parser.isSet(QStringLiteral("text")))
            text = JobCodes::allInventorySections;
        else if (!JobCodes::isInventoryFlags(text))
            return fail(Usage, QStringLiteral("an inventory's text is one \"1\" or \"0\" per "
                                              "section, for example %1")
                                   .arg(JobCodes::allInventorySections));
    } else if ((cmd == CommandType::CommandLine || cmd == CommandType::ProcessRule) &&
               text.trimmed().isEmpty()) {
        return fail(Usage, QStringLiteral("%1 needs --text").arg(JobCodes::commandName(cmd)));
    }
    if (text.toLatin1().size() > kTextSize)
        err << "kelvarix-manager: warning: --text has more than " << kTextSize
            << " bytes; the agent receives only the first " << kTextSize << "\n";

    const QDateTime date =
        JobCodes::scheduleDate(parser.value(QStringLiteral("date")), QDateTime::currentDateTime());
    if (!date.isValid())
        return fail(Usage, QStringLiteral("unreadable --date \"%1\" (now, +90s, -2h, or "
                                          "\"yyyy-MM-dd hh:mm:ss\")")
                               .arg(parser.value(QStringLiteral("date"))));

    // Everything named must exist before anything is written.
    QSqlRecord row;
    int code = checkUser();
    if (code != Ok)
        return code;
    if (JobCodes::usesApplication(cmd)) {
        code = findRow(QStringLiteral("applications"), QStringLiteral("application"),
                       QString::number(prm2), &row);
        if (code != Ok)
            return code;
    }
    QList<int> machineIds;
    for (const QString &name : parser.positional()) {
        code = findMachine(name, &row);
        if (code != Ok)
            return code;
        machineIds.append(field(row, "id").toInt());
    }

    if (!database.begin())
        return fail(Failed, QStringLiteral("cannot start a transaction: ") + database.errorText());
    const QString now = DateTimeText::now();
    const int jobId = database.insert(
        SqlText(QStringLiteral("INSERT INTO jobs (creator, cmd, prm, prm2, prm3, scheduleType, "
                               "scheduleDate, scheduleCount, created_at, updated_at) VALUES (%1, "
                               "%2, %3, %4, '%5', %6, '%7', %8, '%9', '%10') RETURNING id"))
            .number(config.userId)
            .number(cmd)
            .number(prm)
            .number(prm2)
            .text(text)
            .number(scheduleType)
            .text(DateTimeText::toDatabase(date))
            .number(every)
            .text(now)
            .text(now));
    if (jobId < 0) {
        const QString why = database.errorText();
        database.rollback();
        return fail(Failed, QStringLiteral("the job was not stored: ") + why);
    }
    return assign(jobId, config.userId, machineIds);
}

int ManagerTool::assign(int jobId, int creator, const QList<int> &machineIds)
{
    // Called inside a transaction; the job line is printed only once everything is stored.
    QStringList lines;
    for (int machineId : machineIds) {
        const int id = database.insert(
            SqlText(
                QStringLiteral("INSERT INTO job_machines (creator, machine, job, active, status, "
                               "created_at) VALUES (%1, %2, %3, 0, %4, '%5') RETURNING id"))
                .number(creator)
                .number(machineId)
                .number(jobId)
                .number(int(ResultCode::Pending))
                .text(DateTimeText::now()));
        if (id < 0) {
            const QString why = database.errorText();
            database.rollback();
            return fail(Failed, QStringLiteral("the assignment to machine %1 was not stored: %2")
                                    .arg(machineId)
                                    .arg(why));
        }
        lines.append(QStringLiteral("assignment %1 machine %2").arg(id).arg(machineId));
    }
    if (!database.commit())
        return fail(Failed, QStringLiteral("nothing was stored: ") + database.errorText());
    printLine(QStringLiteral("job %1").arg(jobId));
    for (const QString &line : qAsConst(lines))
        printLine(line);
    return Ok;
}

int ManagerTool::assignJob(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 2, -1))
        return exitCode;
    QSqlRecord job;
    int code =
        findRow(QStringLiteral("jobs"), QStringLiteral("job"), parser.positional().at(0), &job);
    if (code != Ok)
        return code;
    QList<int> machineIds;
    QSqlRecord machine;
    for (const QString &name : parser.positional().mid(1)) {
        code = findMachine(name, &machine);
        if (code != Ok)
            return code;
        machineIds.append(field(machine, "id").toInt());
    }
    if (!database.begin())
        return fail(Failed, QStringLiteral("cannot start a transaction: ") + database.errorText());
    // The assignment belongs to whoever created the job, so that their job check finds it.
    return assign(field(job, "id").toInt(), field(job, "creator").toInt(), machineIds);
}

int ManagerTool::listJobs(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    if (!openDatabase())
        return DatabaseUnreachable;
    QList<QSqlRecord> rows;
    if (!database.select(SqlText(QStringLiteral(
                             "SELECT j.*, (SELECT COUNT(*) FROM job_machines jm WHERE jm.job=j.id) "
                             "AS assignments FROM jobs j ORDER BY j.id")),
                         &rows))
        return fail(Failed, QStringLiteral("reading jobs failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &j : qAsConst(rows))
        table.append({field(j, "id"), field(j, "creator"),
                      JobCodes::commandName(field(j, "cmd").toInt()), field(j, "prm"),
                      field(j, "prm2"), field(j, "prm3"),
                      JobCodes::scheduleName(field(j, "scheduleType").toInt()),
                      DateTimeText::fromDatabase(j.value(QStringLiteral("scheduleDate"))),
                      field(j, "scheduleCount"), field(j, "assignments")});
    printTable({QStringLiteral("id"), QStringLiteral("creator"), QStringLiteral("cmd"),
                QStringLiteral("prm"), QStringLiteral("prm2"), QStringLiteral("prm3"),
                QStringLiteral("schedule"), QStringLiteral("date"), QStringLiteral("every"),
                QStringLiteral("assignments")},
               table);
    return Ok;
}

int ManagerTool::printAssignments(int jobId, bool *allFinished, bool *allSucceeded)
{
    QList<QSqlRecord> rows;
    if (!database.select(
            SqlText(QStringLiteral("SELECT jm.*, m.name AS machine_name FROM job_machines jm "
                                   "LEFT JOIN machines m ON m.id=jm.machine WHERE jm.job=%1 "
                                   "ORDER BY jm.id"))
                .number(jobId),
            &rows))
        return fail(Failed, QStringLiteral("reading assignments failed: ") + database.errorText());
    *allFinished = !rows.isEmpty();
    *allSucceeded = !rows.isEmpty();
    QList<QStringList> table;
    for (const QSqlRecord &a : qAsConst(rows)) {
        const bool finished = isFinished(a);
        *allFinished = *allFinished && finished;
        *allSucceeded =
            *allSucceeded && finished && field(a, "status").toInt() == ResultCode::Succeeded;
        const QVariant status = a.value(QStringLiteral("status"));
        table.append({field(a, "id"), field(a, "machine"), field(a, "machine_name"),
                      JobCodes::activeName(field(a, "active").toInt()),
                      status.isNull() ? JobCodes::statusName(ResultCode::Pending)
                                      : JobCodes::statusName(status.toInt()),
                      DateTimeText::fromDatabase(a.value(QStringLiteral("updated_at"))),
                      reportColumn(field(a, "reportData"))});
    }
    printTable({QStringLiteral("assignment"), QStringLiteral("machine"), QStringLiteral("name"),
                QStringLiteral("active"), QStringLiteral("status"), QStringLiteral("updated"),
                QStringLiteral("report")},
               table);
    return Ok;
}

int ManagerTool::showJob(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    QSqlRecord j;
    const int code =
        findRow(QStringLiteral("jobs"), QStringLiteral("job"), parser.positional().at(0), &j);
    if (code != Ok)
        return code;
    const int cmd = field(j, "cmd").toInt();
    const int type = field(j, "scheduleType").toInt();
    printLine(QStringLiteral("Job: ") + field(j, "id"));
    printLine(QStringLiteral("Creator: ") + field(j, "creator"));
    printLine(QStringLiteral("Command: %1 %2").arg(cmd).arg(JobCodes::commandName(cmd)));
    printLine(QStringLiteral("Parameter: ") + field(j, "prm"));
    printLine(QStringLiteral("Second parameter: ") + field(j, "prm2"));
    printLine(QStringLiteral("Text: ") + field(j, "prm3"));
    printLine(QStringLiteral("Schedule: %1 %2").arg(type).arg(JobCodes::scheduleName(type)));
    printLine(QStringLiteral("Date: ") +
              DateTimeText::fromDatabase(j.value(QStringLiteral("scheduleDate"))));
    printLine(QStringLiteral("Every: ") + field(j, "scheduleCount"));
    printLine(QStringLiteral("Assignments:"));
    bool finished = false;
    bool succeeded = false;
    return printAssignments(field(j, "id").toInt(), &finished, &succeeded);
}

int ManagerTool::waitJob(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("timeout")}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    int timeout = kDefaultJobWaitSeconds;
    if (!parser.number(QStringLiteral("timeout"), 0, INT_MAX / 1000, &timeout))
        return fail(Usage, parser.errorText());
    QSqlRecord j;
    int code =
        findRow(QStringLiteral("jobs"), QStringLiteral("job"), parser.positional().at(0), &j);
    if (code != Ok)
        return code;
    const int jobId = field(j, "id").toInt();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QList<QSqlRecord> rows;
        if (!database.select(
                SqlText(QStringLiteral("SELECT * FROM job_machines WHERE job=%1")).number(jobId),
                &rows))
            return fail(Failed,
                        QStringLiteral("reading assignments failed: ") + database.errorText());
        if (rows.isEmpty())
            return fail(Failed, QStringLiteral("job %1 is assigned to no machine").arg(jobId));
        bool all = true;
        for (const QSqlRecord &a : qAsConst(rows))
            all = all && isFinished(a);
        if (all || clock.elapsed() >= qint64(timeout) * 1000)
            break;
        QThread::msleep(kPollIntervalMs);
    }
    bool finished = false;
    bool succeeded = false;
    code = printAssignments(jobId, &finished, &succeeded);
    if (code != Ok)
        return code;
    if (!finished)
        return fail(Failed, QStringLiteral("job %1 has no result from every machine after %2 s")
                                .arg(jobId)
                                .arg(timeout));
    if (!succeeded)
        return fail(Failed, QStringLiteral("job %1 did not succeed everywhere").arg(jobId));
    return Ok;
}

int ManagerTool::showReport(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    QSqlRecord a;
    const int code = findRow(QStringLiteral("job_machines"), QStringLiteral("assignment"),
                             parser.positional().at(0), &a);
    if (code != Ok)
        return code;
    const QString report = field(a, "reportData");
    out << report << (report.endsWith(QLatin1Char('\n')) || report.isEmpty() ? "" : "\n");
    out.flush();
    return Ok;
}
