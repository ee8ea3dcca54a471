// Machines and what their agents reported: the machine list, one machine's inventory
// summary, the rows of one inventory table, monitoring rows and alarms.
#include "datetimetext.h"
#include "managertool.h"
#include "sqltext.h"
#include "toolarguments.h"

#include <QElapsedTimer>
#include <QSqlField>
#include <QTextStream>
#include <QThread>
#include <climits>

namespace
{

constexpr int kDefaultListLimit = 10;
constexpr int kPollIntervalMs = 250;
constexpr int kDefaultWaitSeconds = 60;
constexpr int kAgentPollingType = 0;

// The inventory tables a machine's rows can be listed from; nothing else reaches a statement.
const char *const kInventoryTables[] = {"os_details",
                                        "cpus",
                                        "memories",
                                        "drives",
                                        "video_controllers",
                                        "network_adapters",
                                        "aggregate_values",
                                        "softwares",
                                        "processes",
                                        "environment_variables",
                                        "os_services",
                                        "printers",
                                        "start_up_applications",
                                        "updates",
                                        "os_users",
                                        "shares",
                                        "monitorings",
                                        "alarms"};

QString field(const QSqlRecord &row, const char *name)
{
    return row.value(QLatin1String(name)).toString();
}

QString dateField(const QSqlRecord &row, const char *name)
{
    return DateTimeText::fromDatabase(row.value(QLatin1String(name)));
}

QString orDash(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("-") : text;
}

QString statusText(const QSqlRecord &machine)
{
    const QString status = field(machine, "status");
    if (status == QLatin1String("1"))
        return QStringLiteral("online");
    if (status == QLatin1String("0"))
        return QStringLiteral("offline");
    return orDash(status);
}

QString modeText(const QSqlRecord &machine)
{
    return field(machine, "agentType").toInt() == kAgentPollingType ? QStringLiteral("polls")
                                                                    : QStringLiteral("woken");
}

} // namespace

int ManagerTool::findMachine(const QString &idOrName, QSqlRecord *machine)
{
    if (!openDatabase())
        return DatabaseUnreachable;
    bool isNumber = false;
    const int id = idOrName.toInt(&isNumber, 10);
    QList<QSqlRecord> rows;
    const bool ok =
        isNumber
            ? database.select(
                  SqlText(QStringLiteral("SELECT * FROM machines WHERE id=%1")).number(id), &rows)
            : database.select(
                  SqlText(QStringLiteral("SELECT * FROM machines WHERE name='%1' ORDER BY id"))
                      .text(idOrName),
                  &rows);
    if (!ok)
        return fail(Failed, QStringLiteral("reading machines failed: ") + database.errorText());
    if (rows.isEmpty())
        return fail(NotFound, QStringLiteral("no machine \"%1\"").arg(idOrName));
    if (rows.size() > 1)
        return fail(Failed, QStringLiteral("%1 machines are named \"%2\"; give the id")
                                .arg(rows.size())
                                .arg(idOrName));
    *machine = rows.first();
    return Ok;
}

int ManagerTool::listMachines(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    if (!openDatabase())
        return DatabaseUnreachable;
    QList<QSqlRecord> rows;
    if (!database.select(SqlText(QStringLiteral("SELECT * FROM machines ORDER BY id")), &rows))
        return fail(Failed, QStringLiteral("reading machines failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &m : qAsConst(rows))
        table.append({field(m, "id"), field(m, "name"), field(m, "peerip"), field(m, "port"),
                      modeText(m), statusText(m), dateField(m, "updated_at")});
    printTable({QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("address"),
                QStringLiteral("port"), QStringLiteral("mode"), QStringLiteral("status"),
                QStringLiteral("last_registration")},
               table);
    return Ok;
}

int ManagerTool::showMachine(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    QSqlRecord m;
    const int found = findMachine(parser.positional().at(0), &m);
    if (found != Ok)
        return found;
    const int mid = field(m, "id").toInt();
    auto rowsOf = [&](const char *table, QList<QSqlRecord> *rows) {
        return database.select(SqlText(QStringLiteral("SELECT * FROM %1 WHERE mid=%2 ORDER BY id"))
                                   .fragment(QLatin1String(table))
                                   .number(mid),
                               rows);
    };

    printLine(QStringLiteral("Machine: %1").arg(mid));
    printLine(QStringLiteral("Name: ") + orDash(field(m, "name")));
    printLine(QStringLiteral("Address: ") + orDash(field(m, "peerip")));
    printLine(QStringLiteral("Agent port: ") + orDash(field(m, "port")));
    printLine(QStringLiteral("Mode: ") + modeText(m));
    printLine(QStringLiteral("Status: ") + statusText(m));
    printLine(QStringLiteral("Created: ") + orDash(dateField(m, "created_at")));
    printLine(QStringLiteral("Last registration: ") + orDash(dateField(m, "updated_at")));

    QList<QSqlRecord> rows;
    if (!rowsOf("os_details", &rows))
        return fail(Failed, QStringLiteral("reading os_details failed: ") + database.errorText());
    if (rows.isEmpty()) {
        printLine(QStringLiteral("Operating system: - (no inventory stored yet)"));
    } else {
        const QSqlRecord &os = rows.first();
        printLine(QStringLiteral("Operating system: ") + orDash(field(os, "OS_Caption")));
        printLine(QStringLiteral("OS version: ") + orDash(field(os, "OS_Version")));
        printLine(QStringLiteral("OS architecture: ") + orDash(field(os, "OS_Architecture")));
        printLine(QStringLiteral("Computer name: ") + orDash(field(os, "name")));
        printLine(QStringLiteral("Inventory time: ") + orDash(dateField(os, "updated_at")));
    }

    rowsOf("cpus", &rows);
    printLine(QStringLiteral("Processors: %1").arg(rows.size()));
    for (const QSqlRecord &cpu : qAsConst(rows))
        printLine(QStringLiteral("  %1: %2, %3 cores, %4 MHz")
                      .arg(orDash(field(cpu, "cpu_id")), orDash(field(cpu, "name")),
                           orDash(field(cpu, "numberofcores")),
                           orDash(field(cpu, "maxclockspeed"))));

    rowsOf("memories", &rows);
    printLine(QStringLiteral("Memory banks: %1").arg(rows.size()));
    for (const QSqlRecord &bank : qAsConst(rows))
        printLine(QStringLiteral("  %1: %2 MiB, %3, %4 MHz")
                      .arg(orDash(field(bank, "memory_id")), orDash(field(bank, "size")),
                           orDash(field(bank, "memory_type")), orDash(field(bank, "speed"))));

    rowsOf("drives", &rows);
    printLine(QStringLiteral("Drives: %1").arg(rows.size()));
    for (const QSqlRecord &drive : qAsConst(rows))
        printLine(QStringLiteral("  %1: %2, %3 GiB, %4 GiB available")
                      .arg(orDash(field(drive, "name")), orDash(field(drive, "filesystem")),
                           orDash(field(drive, "size")), orDash(field(drive, "available"))));

    rowsOf("aggregate_values", &rows);
    if (!rows.isEmpty()) {
        const QSqlRecord &total = rows.first();
        printLine(QStringLiteral("Totals: %1 MiB memory, %2 processors, %3 GiB drives, %4 GiB "
                                 "available")
                      .arg(orDash(field(total, "memory_size")), orDash(field(total, "cpu_numbers")),
                           orDash(field(total, "drive_size")), orDash(field(total, "available"))));
    }

    // How many rows each of the per-machine lists holds.
    const struct {
        const char *label;
        const char *table;
    } counts[] = {{"Packages", "softwares"},
                  {"Processes", "processes"},
                  {"Services", "os_services"},
                  {"Users", "os_users"},
                  {"Network adapters", "network_adapters"},
                  {"Video controllers", "video_controllers"},
                  {"Printers", "printers"},
                  {"Shares", "shares"},
                  {"Environment variables", "environment_variables"},
                  {"Start-up applications", "start_up_applications"},
                  {"Updates", "updates"},
                  {"Monitoring rows", "monitorings"},
                  {"Alarms", "alarms"}};
    for (const auto &count : counts) {
        bool ok = false;
        const QSqlRecord n =
            database.first(SqlText(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE mid=%2"))
                               .fragment(QLatin1String(count.table))
                               .number(mid),
                           &ok);
        if (!ok)
            return fail(Failed, QStringLiteral("counting %1 failed: %2")
                                    .arg(QLatin1String(count.table), database.errorText()));
        printLine(QStringLiteral("%1: %2").arg(QLatin1String(count.label), n.value(0).toString()));
    }

    const QSqlRecord latest = database.first(
        SqlText(QStringLiteral("SELECT * FROM monitorings WHERE mid=%1 ORDER BY id DESC LIMIT 1"))
            .number(mid));
    if (latest.isEmpty()) {
        printLine(QStringLiteral("Latest monitoring: -"));
    } else {
        printLine(QStringLiteral("Latest monitoring: %1 cpu %2%, memory %3%, %4 processes, %5 "
                                 "threads, disk %6%, network %7%, battery %8")
                      .arg(orDash(dateField(latest, "created_at")),
                           orDash(field(latest, "cpuUsagePercentage")),
                           orDash(field(latest, "memoryUsagePercentage")),
                           orDash(field(latest, "numberOfProcess")),
                           orDash(field(latest, "numberOfThread")),
                           orDash(field(latest, "diskUsagePercentage")),
                           orDash(field(latest, "netAdapterUsagePercentage")),
                           orDash(field(latest, "battery"))));
    }
    return Ok;
}

int ManagerTool::showSection(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 2, 2))
        return exitCode;
    const QString section = parser.positional().at(1);
    QString table;
    for (const char *name : kInventoryTables)
        if (section == QLatin1String(name))
            table = section;
    if (table.isEmpty()) {
        QStringList names;
        for (const char *name : kInventoryTables)
            names.append(QLatin1String(name));
        return fail(Usage, QStringLiteral("unknown section \"%1\"; one of: %2")
                               .arg(section, names.join(QStringLiteral(", "))));
    }
    QSqlRecord m;
    const int found = findMachine(parser.positional().at(0), &m);
    if (found != Ok)
        return found;
    QList<QSqlRecord> rows;
    QSqlRecord shape;
    if (!database.select(SqlText(QStringLiteral("SELECT * FROM %1 WHERE mid=%2 ORDER BY id"))
                             .fragment(table)
                             .number(field(m, "id").toInt()),
                         &rows, &shape))
        return fail(Failed,
                    QStringLiteral("reading %1 failed: %2").arg(table, database.errorText()));
    QStringList header;
    QList<QStringList> lines;
    // The table's own columns, without the row id and the machine id every row shares.
    QList<int> columns;
    for (int c = 0; c < shape.count(); ++c) {
        const QString name = shape.fieldName(c).toLower();
        if (name == QLatin1String("id") || name == QLatin1String("mid"))
            continue;
        columns.append(c);
        header.append(name);
    }
    for (const QSqlRecord &row : qAsConst(rows)) {
        QStringList cells;
        for (int c : qAsConst(columns)) {
            const QVariant v = row.value(shape.fieldName(c));
            const QString name = shape.fieldName(c).toLower();
            cells.append(name.endsWith(QLatin1String("_at")) ? DateTimeText::fromDatabase(v)
                                                             : v.toString());
        }
        lines.append(cells);
    }
    printTable(header, lines);
    return Ok;
}

int ManagerTool::listMonitorings(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("limit")}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    int limit = kDefaultListLimit;
    if (!parser.number(QStringLiteral("limit"), 1, 1000000, &limit))
        return fail(Usage, parser.errorText());
    QSqlRecord m;
    const int found = findMachine(parser.positional().at(0), &m);
    if (found != Ok)
        return found;
    QList<QSqlRecord> rows;
    if (!database.select(
            SqlText(
                QStringLiteral("SELECT * FROM monitorings WHERE mid=%1 ORDER BY id DESC LIMIT %2"))
                .number(field(m, "id").toInt())
                .number(limit),
            &rows))
        return fail(Failed, QStringLiteral("reading monitorings failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &r : qAsConst(rows))
        table.append({dateField(r, "created_at"), field(r, "cpuUsagePercentage"),
                      field(r, "memoryUsagePercentage"), field(r, "numberOfProcess"),
                      field(r, "numberOfThread"), field(r, "diskUsagePercentage"),
                      field(r, "netAdapterUsagePercentage"), field(r, "battery")});
    printTable({QStringLiteral("time"), QStringLiteral("cpu"), QStringLiteral("memory"),
                QStringLiteral("processes"), QStringLiteral("threads"), QStringLiteral("disk"),
                QStringLiteral("network"), QStringLiteral("battery")},
               table);
    return Ok;
}

int ManagerTool::listAlarms(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("limit")}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    int limit = kDefaultListLimit;
    if (!parser.number(QStringLiteral("limit"), 1, 1000000, &limit))
        return fail(Usage, parser.errorText());
    QSqlRecord m;
    const int found = findMachine(parser.positional().at(0), &m);
    if (found != Ok)
        return found;
    QList<QSqlRecord> rows;
    if (!database.select(
            SqlText(QStringLiteral("SELECT * FROM alarms WHERE mid=%1 ORDER BY id DESC LIMIT %2"))
                .number(field(m, "id").toInt())
                .number(limit),
            &rows))
        return fail(Failed, QStringLiteral("reading alarms failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &r : qAsConst(rows))
        table.append(
            {field(r, "id"), dateField(r, "created_at"), field(r, "alarm_id"), field(r, "data")});
    printTable({QStringLiteral("id"), QStringLiteral("time"), QStringLiteral("alarm"),
                QStringLiteral("data")},
               table);
    return Ok;
}

int ManagerTool::waitMachine(const QStringList &args)
{
    ToolArguments parser(
        {QStringLiteral("name"), QStringLiteral("port"), QStringLiteral("timeout")}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    int timeout = kDefaultWaitSeconds;
    int port = -1;
    if (!parser.number(QStringLiteral("timeout"), 0, INT_MAX / 1000, &timeout) ||
        !parser.number(QStringLiteral("port"), 0, 65535, &port))
        return fail(Usage, parser.errorText());
    if (!openDatabase())
        return DatabaseUnreachable;
    const QString name = parser.value(QStringLiteral("name"));
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QList<QSqlRecord> rows;
        if (!database.select(SqlText(QStringLiteral("SELECT * FROM machines ORDER BY id")), &rows))
            return fail(Failed, QStringLiteral("reading machines failed: ") + database.errorText());
        for (const QSqlRecord &m : qAsConst(rows)) {
            if (field(m, "status") != QLatin1String("1"))
                continue;
            if (!name.isEmpty() && field(m, "name") != name)
                continue;
            if (port >= 0 && field(m, "port").toInt() != port)
                continue;
            printLine(field(m, "id"));
            return Ok;
        }
        if (clock.elapsed() >= qint64(timeout) * 1000)
            return fail(Failed,
                        QStringLiteral("no matching machine came online within %1 s").arg(timeout));
        QThread::msleep(kPollIntervalMs);
    }
}
