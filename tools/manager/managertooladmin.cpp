// Applications with their installers, administrators and discovery ranges: the rows the web
// manager keeps for the server, and the two application requests.
#include "command.h"
#include "datetimetext.h"
#include "managertool.h"
#include "sqltext.h"
#include "toolarguments.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QTextStream>
#include <climits>

namespace
{

constexpr int kMaxApplicationId = 255; // travels in the Command's 8-bit flag

QString field(const QSqlRecord &row, const char *name)
{
    return row.value(QLatin1String(name)).toString();
}

} // namespace

int ManagerTool::addApplication(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("name"), QStringLiteral("exec"), QStringLiteral("file"),
                          QStringLiteral("install-switches"), QStringLiteral("uninstall-name"),
                          QStringLiteral("uninstall-switches"), QStringLiteral("id"),
                          QStringLiteral("upload")},
                         {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    const QString name = parser.value(QStringLiteral("name"));
    const QString upload = parser.value(QStringLiteral("upload"));
    QString fileName = parser.value(QStringLiteral("file"));
    if (fileName.isEmpty() && !upload.isEmpty())
        fileName = QFileInfo(upload).fileName();
    if (name.isEmpty())
        return fail(Usage, QStringLiteral("add-application needs --name"));
    // The server keeps the installer at upload/NAME/FILE and refuses anything else.
    for (const QString &part : {name, fileName})
        if (part.contains(QLatin1Char('/')) || part.contains(QLatin1Char('\\')) ||
            part.contains(QLatin1String("..")))
            return fail(
                Usage, QStringLiteral("\"%1\" must be a plain name, without / \\ or ..").arg(part));
    int id = 0;
    if (!parser.number(QStringLiteral("id"), 1, kMaxApplicationId, &id))
        return fail(Usage, parser.errorText());
    if (!upload.isEmpty() && !QFileInfo(upload).isReadable())
        return fail(Usage, QStringLiteral("cannot read the installer %1").arg(upload));
    if (!openDatabase())
        return DatabaseUnreachable;

    const QString now = DateTimeText::now();
    SqlText insert(
        id > 0 ? QStringLiteral("INSERT INTO applications (id, name, fileName, execName, "
                                "installSwitches, uninstallname, uninstallSwitches, created_at, "
                                "updated_at) VALUES (%8, '%1', '%2', '%3', '%4', '%5', '%6', '%7', "
                                "'%7') RETURNING id")
               : QStringLiteral("INSERT INTO applications (name, fileName, execName, "
                                "installSwitches, uninstallname, uninstallSwitches, created_at, "
                                "updated_at) VALUES ('%1', '%2', '%3', '%4', '%5', '%6', '%7', "
                                "'%7') RETURNING id"));
    insert.text(name)
        .text(fileName)
        .text(parser.value(QStringLiteral("exec")))
        .text(parser.value(QStringLiteral("install-switches")))
        .text(parser.value(QStringLiteral("uninstall-name")))
        .text(parser.value(QStringLiteral("uninstall-switches")))
        .text(now)
        .number(id);
    const int newId = database.insert(insert);
    if (newId < 0)
        return fail(Failed, QStringLiteral("the application was not stored (ids run from 1 to "
                                           "255): ") +
                                database.errorText());
    if (newId > kMaxApplicationId) {
        database.exec(
            SqlText(QStringLiteral("DELETE FROM applications WHERE id=%1")).number(newId));
        return fail(Failed, QStringLiteral("the database gave id %1; application ids must lie in "
                                           "1-255, pass --id")
                                .arg(newId));
    }
    printLine(QStringLiteral("application %1").arg(newId));
    if (upload.isEmpty())
        return Ok;
    return sendRequest(CommandType::FileUpload, newId, upload);
}

int ManagerTool::listApplications(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    if (!openDatabase())
        return DatabaseUnreachable;
    QList<QSqlRecord> rows;
    if (!database.select(SqlText(QStringLiteral("SELECT * FROM applications ORDER BY id")), &rows))
        return fail(Failed, QStringLiteral("reading applications failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &a : qAsConst(rows))
        table.append({field(a, "id"), field(a, "name"), field(a, "fileName"), field(a, "execName"),
                      field(a, "installSwitches"), field(a, "uninstallname"),
                      field(a, "uninstallSwitches")});
    printTable({QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("file"),
                QStringLiteral("exec"), QStringLiteral("install_switches"),
                QStringLiteral("uninstall_name"), QStringLiteral("uninstall_switches")},
               table);
    return Ok;
}

int ManagerTool::uploadInstaller(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 2, 2))
        return exitCode;
    QSqlRecord application;
    const int code = findRow(QStringLiteral("applications"), QStringLiteral("application"),
                             parser.positional().at(0), &application);
    if (code != Ok)
        return code;
    const QString path = parser.positional().at(1);
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable())
        return fail(Usage, QStringLiteral("cannot read the installer %1").arg(path));
    return sendRequest(CommandType::FileUpload, field(application, "id").toInt(), path);
}

int ManagerTool::deleteApplication(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    QSqlRecord application;
    const int code = findRow(QStringLiteral("applications"), QStringLiteral("application"),
                             parser.positional().at(0), &application);
    if (code != Ok)
        return code;
    return sendRequest(CommandType::DeleteApplication, field(application, "id").toInt());
}

int ManagerTool::addUser(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("full-name"), QStringLiteral("level")}, {});
    if (!parseArguments(parser, args, 1, 1))
        return exitCode;
    int level = 0;
    if (!parser.number(QStringLiteral("level"), 0, INT_MAX, &level))
        return fail(Usage, parser.errorText());
    if (!openDatabase())
        return DatabaseUnreachable;
    // The web manager's password is its own business; the server only needs the row.
    const QString now = DateTimeText::now();
    const int id = database.insert(
        SqlText(QStringLiteral("INSERT INTO users (username, full_name, user_level, created_at, "
                               "updated_at) VALUES ('%1', '%2', %3, '%4', '%4') RETURNING id"))
            .text(parser.positional().at(0))
            .text(parser.value(QStringLiteral("full-name")))
            .number(level)
            .text(now));
    if (id < 0)
        return fail(Failed, QStringLiteral("the user was not stored: ") + database.errorText());
    printLine(QStringLiteral("user %1").arg(id));
    return Ok;
}

int ManagerTool::listUsers(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    if (!openDatabase())
        return DatabaseUnreachable;
    QList<QSqlRecord> rows;
    if (!database.select(SqlText(QStringLiteral("SELECT * FROM users ORDER BY id")), &rows))
        return fail(Failed, QStringLiteral("reading users failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &u : qAsConst(rows))
        table.append(
            {field(u, "id"), field(u, "username"), field(u, "full_name"), field(u, "user_level")});
    printTable({QStringLiteral("id"), QStringLiteral("username"), QStringLiteral("full_name"),
                QStringLiteral("level")},
               table);
    return Ok;
}

int ManagerTool::addDiscovery(const QStringList &args)
{
    ToolArguments parser({QStringLiteral("port")}, {});
    if (!parseArguments(parser, args, 2, 2))
        return exitCode;
    int port = 0;
    if (!parser.number(QStringLiteral("port"), 0, 65535, &port))
        return fail(Usage, parser.errorText());
    const QString network = parser.positional().at(0);
    const QString mask = parser.positional().at(1);
    QHostAddress address;
    if (!address.setAddress(network) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return fail(
            Usage,
            QStringLiteral("NETWORK must be a dotted IPv4 address, not \"%1\"").arg(network));
    if (!openDatabase())
        return DatabaseUnreachable;
    const QString now = DateTimeText::now();
    const int id = database.insert(
        SqlText(QStringLiteral("INSERT INTO discoveries (net_ip, mask, port, created_at, "
                               "updated_at) VALUES ('%1', '%2', %3, '%4', '%4') RETURNING id"))
            .text(network)
            .text(mask)
            .number(port)
            .text(now));
    if (id < 0)
        return fail(Failed,
                    QStringLiteral("the discovery range was not stored: ") + database.errorText());
    printLine(QStringLiteral("discovery %1").arg(id));
    return Ok;
}

int ManagerTool::listDiscoveries(const QStringList &args)
{
    ToolArguments parser({}, {});
    if (!parseArguments(parser, args, 0, 0))
        return exitCode;
    if (!openDatabase())
        return DatabaseUnreachable;
    QList<QSqlRecord> rows;
    if (!database.select(SqlText(QStringLiteral("SELECT * FROM discoveries ORDER BY id")), &rows))
        return fail(Failed, QStringLiteral("reading discoveries failed: ") + database.errorText());
    QList<QStringList> table;
    for (const QSqlRecord &d : qAsConst(rows))
        table.append({field(d, "id"), field(d, "net_ip"), field(d, "mask"), field(d, "port")});
    printTable({QStringLiteral("id"), QStringLiteral("network"), QStringLiteral("mask"),
                QStringLiteral("port")},
               table);
    return Ok;
}
