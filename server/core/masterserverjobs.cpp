// The job check of the server: which assignments are due now.
#include "datetimetext.h"
#include "masterserver.h"
#include "schedulerule.h"
#include "sqltext.h"

#include <QSqlQuery>
#include <QSqlRecord>

// At most this many assignments are examined per check.
constexpr int kJobCheckRowLimit = 10000;

void MasterServer::jobCheck()
{
    jobCheck(0);
}

void MasterServer::jobCheck(int uid)
{
    const QString base = QStringLiteral(
        "SELECT jm.id, m.id as mid, peerip, port, jm.created_at, jm.updated_at, scheduleType, "
        "scheduleDate, scheduleCount, m.status from job_machines as jm, machines as m, jobs as j "
        "WHERE jm.active=0 AND m.id=jm.machine AND j.id=jm.job");
    // Managers check only their own assignments; the observer checks all of them.
    QSqlQuery query =
        uid < 1 ? SqlText(base + QStringLiteral(" LIMIT %1"))
                      .number(kJobCheckRowLimit)
                      .exec(dbConnection.database())
                : SqlText(base + QStringLiteral(" AND jm.creator=%1 LIMIT %2"))
                      .number(uid)
                      .number(kJobCheckRowLimit)
                      .exec(dbConnection.database());

    const QDateTime now = QDateTime::currentDateTime();
    QList<Job> list;
    bool anyRow = false;
    while (query.next()) {
        anyRow = true;
        const QSqlRecord row = query.record();
        const int id = row.value(0).toInt();
        const QString peerip = row.value(QStringLiteral("peerip")).toString();
        int port = row.value(QStringLiteral("port")).toInt();
        if (port == 0)
            port = settings.AgentPort;
        const DueDecision decision =
            decideDue(row.value(QStringLiteral("scheduleType")).toInt(),
                      DateTimeText::parse(row.value(QStringLiteral("scheduleDate"))),
                      row.value(QStringLiteral("scheduleCount")).toInt(),
                      DateTimeText::parse(row.value(QStringLiteral("updated_at"))), now,
                      row.value(QStringLiteral("status")).toInt());
        if (decision == DueDecision::CloseOffline)
            updateJobMachineState(id, kStatusClosedOffline, 1);
        else if (decision == DueDecision::Due)
            list.append(Job(peerip, port, id, row.value(QStringLiteral("mid")).toInt()));
    }
    if (!anyRow)
        return;
    emit addPendingJobMachineId(list);
    sendBPList(list);
}

void MasterServer::updateJobMachineState(int jobMachineId, int status, int active)
{
    SqlText(QStringLiteral("UPDATE job_machines SET status=%1, active=%2 WHERE id=%3"))
        .number(status)
        .number(active)
        .number(jobMachineId)
        .exec(dbConnection.database());
    Command notice;
    initCommand(notice, 0, CommandType::JobResult, 0);
    informAdmins(&notice);
}
