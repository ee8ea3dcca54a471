#pragma once

#include "command.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>
#include <functional>

class PgCluster;

// The web manager's side of the server: the rows it writes (jobs, assignments, applications,
// discoveries), its one-Command requests to the manager port, and the UDP notices it hears
// while it keeps announcing its presence.
class ManagerSide : public QObject
{
    Q_OBJECT
public:
    ManagerSide(PgCluster &pg, int serverManagerPort, int managerPort, int adminId);
    ~ManagerSide() override;

    // Opens the database and the notice socket; false with a warning when either fails.
    bool open();
    // Presence requests (10) from now on, often enough for the observer to keep us listed.
    void keepPresent(int intervalMs);

    bool exec(const QString &sql);
    QVariant value(const QString &sql);

    // A job as the administrator creates it; its id, or 0.
    int createJob(int cmd, int prm, int prm2, const QString &prm3, int scheduleType = 6);
    // One assignment per machine (active 0); the assignments' ids, in machine order.
    QList<int> assign(int jobId, const QList<int> &machineIds);
    // Waits until the assignment has its final report (active 2); its status, or 0.
    int waitForResult(int assignment, int timeoutMs = 30000);

    // One request Command on its own connection (a file for uploads), then the connection is
    // closed once every byte has left, or, with `handled`, once the server's effect shows.
    bool request(quint8 type, int reference = 0, const QByteArray &file = QByteArray(),
                 const std::function<bool()> &handled = {});

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
    int serverManagerPort;
    int managerPort;
    int adminId;
};
