#pragma once

#include "managerconfig.h"
#include "managerdatabase.h"

#include <QList>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

class QTextStream;
class ToolArguments;

// The manager command-line tool: the web manager's side of the server, for administrators
// and scripts. It reads and writes the shared database (machines, inventories, jobs and
// their assignments, applications, discovery ranges, administrators) and sends manager
// requests to the server, or listens for its notices.
//
// Output is meant to be read by scripts as well: lists are tab-separated with a header
// line, details are "Label: value" lines, errors go to the error stream, and the exit code
// tells what went wrong (ExitCode).
class ManagerTool
{
public:
    enum ExitCode {
        Ok = 0,
        Failed = 1,              // a wait timed out, a job did not succeed, a row was refused
        Usage = 2,               // unknown command or option, a value out of range
        DatabaseUnreachable = 3, // Server.ini unreadable or the database cannot be opened
        NotFound = 4,            // no such machine, job, assignment, application or user
        ServerUnreachable = 5,   // the request could not be delivered to the server
    };

    ManagerTool(QTextStream &out, QTextStream &err);
    ~ManagerTool();

    // Runs one command line (without the program name) and returns its exit code.
    int run(const QStringList &arguments);

    static QString usage();

private:
    using Handler = int (ManagerTool::*)(const QStringList &);

    // Machines and what they reported.
    int listMachines(const QStringList &args);
    int showMachine(const QStringList &args);
    int showSection(const QStringList &args);
    int listMonitorings(const QStringList &args);
    int listAlarms(const QStringList &args);
    int waitMachine(const QStringList &args);
    // Jobs and assignments.
    int addJob(const QStringList &args);
    int assignJob(const QStringList &args);
    int listJobs(const QStringList &args);
    int showJob(const QStringList &args);
    int waitJob(const QStringList &args);
    int showReport(const QStringList &args);
    // Applications, administrators, discovery ranges.
    int addApplication(const QStringList &args);
    int listApplications(const QStringList &args);
    int uploadInstaller(const QStringList &args);
    int deleteApplication(const QStringList &args);
    int addUser(const QStringList &args);
    int listUsers(const QStringList &args);
    int addDiscovery(const QStringList &args);
    int listDiscoveries(const QStringList &args);
    // Requests to the server and its notices.
    int sendHello(const QStringList &args);
    int sendJobCheck(const QStringList &args);
    int sendDiscover(const QStringList &args);
    int sendAnyRequest(const QStringList &args);
    int listen(const QStringList &args);

    bool parseArguments(ToolArguments &parser, const QStringList &args, int minPositional,
                        int maxPositional);
    bool openDatabase();
    // The machine named by an id or its exact name; NotFound or Failed when there is none.
    int findMachine(const QString &idOrName, QSqlRecord *machine);
    int findRow(const QString &table, const QString &what, const QString &idText, QSqlRecord *row);
    int checkUser();
    // Confirms on the output, or on the error stream where the output carries only notices.
    int sendRequest(int type, int reference, const QString &file = QString(),
                    bool confirmOnErrorStream = false);
    int assign(int jobId, int creator, const QList<int> &machineIds);
    int printAssignments(int jobId, bool *allFinished, bool *allSucceeded);

    void printTable(const QStringList &header, const QList<QStringList> &rows);
    void printLine(const QString &line);
    int fail(int code, const QString &message);

    QTextStream &out;
    QTextStream &err;
    ManagerConfig config;
    ManagerDatabase database;
    bool databaseOpen = false;
    int exitCode = Ok;
};
