#pragma once

#include "command.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

class PgCluster;

// The web manager's side of the server: its actions go through the manager tool (the rows of
// users, jobs, assignments, applications and discoveries; requests 5, 6, 8 and 12); the
// test reads the database directly, announces its presence often enough for the observer,
// and hears the server's UDP notices.
class ManagerSide : public QObject
{
    Q_OBJECT
public:
    ManagerSide(PgCluster &pg, const QString &configDir, int serverManagerPort, int managerPort);
    ~ManagerSide() override;

    // Opens the database and the notice socket; false with a warning when either fails.
    bool open();
    // Presence requests (10) from now on, often enough for the observer to keep us listed.
    void keepPresent(int intervalMs);

    QVariant value(const QString &sql);

    // Runs the manager tool with the server's configuration as our administrator; its exit
    // code (-1 when it did not finish in time) and standard output.
    int tool(const QStringList &arguments, QString *output = nullptr);
    // Creates the administrator the tool acts for; false when the tool fails.
    bool addAdministrator(const QString &name);
    // add-job with these options for these machines; the assignments' ids, in machine order
    // (empty when the tool fails).
    QList<int> addJob(const QStringList &options, const QList<int> &machineIds);
    // Waits until the assignment has its final report (active 2); its status, or 0.
    int waitForResult(int assignment, int timeoutMs = 30000);

    // A presence request on its own connection, sent directly (the tool would cost a process
    // per request).
    bool presence();

    // Notices heard so far, in arrival order.
    QList<Command> notices;
    // Waits for a notice of this type at index `from` or later.
    bool waitForNotice(int type, int from, int timeoutMs = 15000);

private slots:
    void readNotices();

private:
    PgCluster &pg;
    QSqlDatabase db;
    QString connectionName;
    QUdpSocket noticeSocket;
    QTimer presenceTimer;
    QString configDir;
    int serverManagerPort;
    int managerPort;
    int adminId = 0;
};
