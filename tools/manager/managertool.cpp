#include "managertool.h"

#include "command.h"
#include "jobcodes.h"
#include "managerlink.h"
#include "noticelistener.h"
#include "sqltext.h"
#include "toolarguments.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTextStream>
#include <QTimer>
#include <climits>

namespace
{

const QString kProgramName = QStringLiteral("kelvarix-manager");
// A manager stays listed by the server while it repeats a presence request within the
// observer period of 60 s; half of it leaves room for a slow network.
constexpr int kPresenceIntervalMs = 30000;

} // namespace

ManagerTool::ManagerTool(QTextStream &out, QTextStream &err) : out(out), err(err) {}

ManagerTool::~ManagerTool()
{
    database.close();
}

QString ManagerTool::usage()
{
    return QStringLiteral(
        "Usage: kelvarix-manager [--config-dir DIR] [--server HOST] [--user ID] COMMAND [ARGS]\n"
        "\n"
        "  --config-dir DIR  directory of the server's Server.ini (database settings, ports);\n"
        "                    default $KELVARIX_CONFIG_DIR, else the tool's own directory\n"
        "  --server HOST     address of the server program (default 127.0.0.1)\n"
        "  --user ID         administrator (users.id) requests and jobs are made for "
        "(default 1)\n"
        "\n"
        "Machines:\n"
        "  machines                          list machines with their status\n"
        "  machine MACHINE                   one machine and a summary of its inventory\n"
        "  inventory MACHINE SECTION         the rows of one inventory table (os_details,\n"
        "                                    cpus, memories, drives, softwares, processes,\n"
        "                                    os_services, os_users, ...)\n"
        "  monitorings MACHINE [--limit N]   latest monitoring rows, newest first\n"
        "  alarms MACHINE [--limit N]        latest alarms, newest first\n"
        "  wait-machine [--name NAME] [--port PORT] [--timeout S]\n"
        "                                    wait until a machine is online; prints its id\n"
        "Jobs:\n"
        "  add-job --cmd CMD [--text T] [--prm N] [--prm2 N] [--application ID]\n"
        "          [--schedule TYPE] [--date D] [--every N] [MACHINE...]\n"
        "                                    CMD: inventory, deploy, command-line, undeploy,\n"
        "                                    deploy-with-switches, undeploy-with-switches,\n"
        "                                    cpu-rule, disk-rule, memory-rule, process-rule,\n"
        "                                    changes-rule, remove-rule or a number;\n"
        "                                    TYPE: minutes, hours, days, weeks, months,\n"
        "                                    immediately (default), online, once,\n"
        "                                    new-machines or 0-8;\n"
        "                                    D: now (default), +90s, -2h, +5m, +1d or\n"
        "                                    \"yyyy-MM-dd hh:mm:ss\"\n"
        "  assign JOB MACHINE...             assign a job to further machines\n"
        "  jobs                              list jobs\n"
        "  job JOB                           one job and its assignments\n"
        "  wait-job JOB [--timeout S]        wait until every assignment has a result;\n"
        "                                    exit 0 only when all succeeded\n"
        "  report ASSIGNMENT                 the stored report text of an assignment\n"
        "Applications, administrators, discovery:\n"
        "  add-application --name N --exec PROGRAM [--file F] [--install-switches S]\n"
        "          [--uninstall-name U] [--uninstall-switches S] [--id N] [--upload PATH]\n"
        "  applications\n"
        "  upload APPLICATION PATH           send an installer to the server (request 5)\n"
        "  delete-application APPLICATION   (request 6)\n"
        "  add-user NAME [--full-name F] [--level N]\n"
        "  users\n"
        "  add-discovery NETWORK MASK [--port PORT]\n"
        "  discoveries\n"
        "Requests and notices:\n"
        "  hello                             presence (request 10)\n"
        "  job-check                         presence and check this user's jobs now (12)\n"
        "  discover                          presence and scan the discovery ranges (8)\n"
        "  request TYPE [--reference N]      any request type\n"
        "  listen [--count N] [--timeout S] [--port PORT] [--no-presence]\n"
        "                                    print the server's notices as they come\n"
        "\n"
        "MACHINE is a machine id or its exact name. Exit codes: 0 done, 1 failed or timed out,\n"
        "2 usage, 3 database unreachable, 4 unknown machine, job, application or user,\n"
        "5 server unreachable.\n");
}

int ManagerTool::run(const QStringList &arguments)
{
    static const QHash<QString, Handler> commands = {
        {QStringLiteral("machines"), &ManagerTool::listMachines},
        {QStringLiteral("machine"), &ManagerTool::showMachine},
        {QStringLiteral("inventory"), &ManagerTool::showSection},
        {QStringLiteral("monitorings"), &ManagerTool::listMonitorings},
        {QStringLiteral("alarms"), &ManagerTool::listAlarms},
        {QStringLiteral("wait-machine"), &ManagerTool::waitMachine},
        {QStringLiteral("add-job"), &ManagerTool::addJob},
        {QStringLiteral("assign"), &ManagerTool::assignJob},
        {QStringLiteral("jobs"), &ManagerTool::listJobs},
        {QStringLiteral("job"), &ManagerTool::showJob},
        {QStringLiteral("wait-job"), &ManagerTool::waitJob},
        {QStringLiteral("report"), &ManagerTool::showReport},
        {QStringLiteral("add-application"), &ManagerTool::addApplication},
        {QStringLiteral("applications"), &ManagerTool::listApplications},
        {QStringLiteral("upload"), &ManagerTool::uploadInstaller},
        {QStringLiteral("delete-application"), &ManagerTool::deleteApplication},
        {QStringLiteral("add-user"), &ManagerTool::addUser},
        {QStringLiteral("users"), &ManagerTool::listUsers},
        {QStringLiteral("add-discovery"), &ManagerTool::addDiscovery},
        {QStringLiteral("discoveries"), &ManagerTool::listDiscoveries},
        {QStringLiteral("hello"), &ManagerTool::sendHello},
        {QStringLiteral("job-check"), &ManagerTool::sendJobCheck},
        {QStringLiteral("discover"), &ManagerTool::sendDiscover},
        {QStringLiteral("request"), &ManagerTool::sendAnyRequest},
        {QStringLiteral("listen"), &ManagerTool::listen},
    };

    QString configDir;
    bool configDirGiven = false;
    int i = 0;
    for (; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h") ||
            a == QLatin1String("help")) {
            out << usage();
            out.flush();
            return Ok;
        }
        if (!a.startsWith(QLatin1String("--")))
            break;
        if (i + 1 >= arguments.size())
            return fail(Usage, QStringLiteral("option %1 needs a value").arg(a));
        const QString v = arguments.at(++i);
        if (a == QLatin1String("--config-dir")) {
            configDir = v;
            configDirGiven = true;
        } else if (a == QLatin1String("--server")) {
            config.serverHost = v;
        } else if (a == QLatin1String("--user")) {
            bool ok = false;
            config.userId = v.toInt(&ok, 10);
            if (!ok)
                return fail(Usage, QStringLiteral("--user takes a users.id, not \"%1\"").arg(v));
        } else {
            return fail(Usage, QStringLiteral("unknown option %1\n").arg(a) + usage());
        }
    }
    if (i >= arguments.size())
        return fail(Usage, QStringLiteral("no command given\n") + usage());
    const QString name = arguments.at(i);
    const Handler command = commands.value(name, nullptr);
    if (!command)
        return fail(Usage, QStringLiteral("unknown command \"%1\"\n").arg(name) + usage());
    const QStringList rest = arguments.mid(i + 1);
    // Only in first place: later it may be the value of an option (a command line's text).
    if (!rest.isEmpty() &&
        (rest.first() == QLatin1String("--help") || rest.first() == QLatin1String("-h"))) {
        out << usage();
        out.flush();
        return Ok;
    }

    if (!config.load(configDirGiven ? configDir : ManagerConfig::defaultConfigDir()))
        return fail(DatabaseUnreachable, config.errorText);
    const int code = (this->*command)(rest);
    out.flush();
    err.flush();
    return code;
}

bool ManagerTool::parseArguments(ToolArguments &parser, const QStringList &args, int minPositional,
                                 int maxPositional)
{
    if (!parser.parse(args)) {
        fail(Usage, parser.errorText());
        return false;
    }
    const int count = parser.positional().size();
    if (count < minPositional || (maxPositional >= 0 && count > maxPositional)) {
        fail(Usage, count < minPositional ? QStringLiteral("missing argument (see --help)")
                                          : QStringLiteral("too many arguments: ") +
                                                parser.positional().join(QLatin1Char(' ')));
        return false;
    }
    return true;
}

bool ManagerTool::openDatabase()
{
    if (databaseOpen)
        return true;
    if (!database.open(config)) {
        fail(DatabaseUnreachable,
             QStringLiteral("cannot open the %1 database \"%2\" on \"%3\" (settings from %4): %5")
                 .arg(config.settings.dbType, config.settings.dbName, config.settings.dbServer,
                      config.iniPath, database.errorText()));
        return false;
    }
    databaseOpen = true;
    return true;
}

int ManagerTool::findRow(const QString &table, const QString &what, const QString &idText,
                         QSqlRecord *row)
{
    bool isNumber = false;
    const int id = idText.toInt(&isNumber, 10);
    if (!isNumber)
        return fail(Usage, QStringLiteral("%1 id must be a number, not \"%2\"").arg(what, idText));
    if (!openDatabase())
        return DatabaseUnreachable;
    bool ok = false;
    // The table name comes from our own code, never from the command line.
    *row = database.first(
        SqlText(QStringLiteral("SELECT * FROM %1 WHERE id=%2")).fragment(table).number(id), &ok);
    if (!ok)
        return fail(Failed,
                    QStringLiteral("reading %1 failed: %2").arg(table, database.errorText()));
    if (row->isEmpty())
        return fail(NotFound, QStringLiteral("no %1 with id %2").arg(what).arg(id));
    return Ok;
}

int ManagerTool::checkUser()
{
    QSqlRecord user;
    const int code = findRow(QStringLiteral("users"), QStringLiteral("administrator (users row)"),
                             QString::number(config.userId), &user);
    if (code == NotFound)
        err << kProgramName
            << ": the server ignores requests of unknown administrators; create one with "
               "add-user or pass --user\n";
    return code;
}

int ManagerTool::sendRequest(int type, int reference, const QString &file,
                             bool confirmOnErrorStream)
{
    const int userCode = checkUser();
    if (userCode != Ok)
        return userCode;
    ::Command request;
    initCommand(request, config.userId, quint8(type), reference);
    ManagerLink link(config.serverHost, config.settings.ServerManagerPort);
    const bool sent = file.isEmpty() ? link.send(request) : link.sendFile(request, file);
    if (!sent)
        return fail(ServerUnreachable, link.errorText());
    const QString confirmation = QStringLiteral("sent %1 %2 to %3:%4 as user %5")
                                     .arg(type)
                                     .arg(JobCodes::noticeTypeName(type))
                                     .arg(config.serverHost)
                                     .arg(config.settings.ServerManagerPort)
                                     .arg(config.userId);
    if (confirmOnErrorStream) {
        err << kProgramName << ": " << confirmation << "\n";
        err.flush();
    } else {
        printLine(confirmation);
    }
    return Ok;
}

int ManagerTool::sendHello(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    return sendRequest(CommandType::ManagerHello, 0);
}

int ManagerTool::sendJobCheck(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    return sendRequest(CommandType::Hello, 0);
}

int ManagerTool::sendDiscover(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    return sendRequest(CommandType::Identity, 0);
}

int ManagerTool::sendAnyRequest(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("reference")}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    bool ok = false;
    const int type = parser.positional().at(0).toInt(&ok, 10);
    if (!ok || type < 0 || type > 255)
        return fail(Usage, QStringLiteral("TYPE is a number from 0 to 255"));
    if (type == CommandType::FileUpload || type == CommandType::FileTransfer)
        return fail(Usage, QStringLiteral("file-carrying types go through \"upload\""));
    int reference = 0;
    if (!parser.number(QStringLiteral("reference"), INT_MIN, INT_MAX, &reference))
        return fail(Usage, parser.errorText());
    return sendRequest(type, reference);
}

int ManagerTool::listen(const QStringList &args)
{
    ToolArguments parser(
        {QStringLiteral("count"), QStringLiteral("timeout"), QStringLiteral("port")},
        {QStringLiteral("no-presence")});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    int count = 0;
    int timeout = 0;
    int port = config.settings.ManagerPort;
    if (!parser.number(QStringLiteral("count"), 1, INT_MAX, &count) ||
        !parser.number(QStringLiteral("timeout"), 1, INT_MAX / 1000, &timeout) ||
        !parser.number(QStringLiteral("port"), 0, 65535, &port))
        return fail(Usage, parser.errorText());
    const bool presence = !parser.isSet(QStringLiteral("no-presence"));

    NoticeListener listener;
    if (!listener.listen(port))
        return fail(
            Failed,
            QStringLiteral("cannot listen on UDP port %1: %2").arg(port).arg(listener.errorText()));
    if (presence) {
        const int code = sendRequest(CommandType::ManagerHello, 0, QString(), true);
        if (code != Ok)
            return code;
    }
    err << kProgramName << ": listening for notices on UDP port " << listener.boundPort() << "\n";
    err.flush();

    QEventLoop loop;
    int received = 0;
    int result = Ok;
    QObject::connect(&listener, &NoticeListener::noticeReceived, &loop,
                     [&](const ::Command &notice) {
                         printLine(NoticeListener::describe(notice));
                         if (count > 0 && ++received >= count)
                             loop.quit();
                     });
    QObject::connect(&listener, &NoticeListener::datagramRejected, &loop,
                     [&](const QString &sender, const QString &reason) {
                         err << kProgramName << ": ignored a datagram from " << sender << ": "
                             << reason << "\n";
                         err.flush();
                     });
    QTimer presenceTimer;
    QObject::connect(&presenceTimer, &QTimer::timeout, &loop, [&]() {
        // A lost presence only costs notices until the next one; keep listening.
        ::Command hello;
        initCommand(hello, config.userId, CommandType::ManagerHello, 0);
        ManagerLink link(config.serverHost, config.settings.ServerManagerPort);
        if (!link.send(hello)) {
            err << kProgramName << ": " << link.errorText() << "\n";
            err.flush();
        }
    });
    if (presence)
        presenceTimer.start(kPresenceIntervalMs);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&]() {
        if (count > 0) {
            err << kProgramName << ": timed out after " << received << " of " << count
                << " notices\n";
            result = Failed;
        }
        loop.quit();
    });
    if (timeout > 0)
        deadline.start(timeout * 1000);
    loop.exec();
    return result;
}

void ManagerTool::printTable(const QStringList &header, const QList<QStringList> &rows)
{
    out << header.join(QLatin1Char('\t')) << "\n";
    for (const QStringList &row : rows) {
        QStringList cells;
        // A tab or line end inside a value would break the columns.
        for (QString cell : row) {
            cell.replace(QLatin1Char('\t'), QLatin1Char(' '));
            cell.replace(QLatin1Char('\n'), QLatin1Char(' '));
            cell.remove(QLatin1Char('\r'));
            cells.append(cell);
        }
        out << cells.join(QLatin1Char('\t')) << "\n";
    }
    out.flush();
}

void ManagerTool::printLine(const QString &line)
{
    out << line << "\n";
    out.flush();
}

int ManagerTool::fail(int code, const QString &message)
{
    err << kProgramName << ": " << message << (message.endsWith(QLatin1Char('\n')) ? "" : "\n");
    err.flush();
    exitCode = code;
    return code;
}
