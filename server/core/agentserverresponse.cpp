// The job side of an agent connection: which job goes out, how it is encoded, and how the
// agent's result is recorded.
#include "agentserver.h"
#include "agentserverreceiver.h"
#include "datetimetext.h"
#include "masterserver.h"
#include "schedulerule.h"
#include "sqltext.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>

static bool closesOnDispatch(int scheduleType)
{
    return scheduleType == ScheduleType::Immediately || scheduleType == ScheduleType::WhenOnline ||
           scheduleType == ScheduleType::NewMachine;
}

static bool isAlarmRule(int cmd)
{
    return cmd >= CommandType::CpuRule && cmd <= CommandType::ChangesRule;
}

void AgentServerReceiver::buildResponse(Command &response)
{
    if (newMachine) {
        initCommand(response, machineId, CommandType::Identity, 0);
        return;
    }

    jobMachineId = agentServer->takePendingJob(machineId);
    QSqlQuery query = SqlText(QStringLiteral("SELECT job, cmd, prm, prm2, prm3, scheduleType FROM "
                                             "job_machines as jm, jobs as j WHERE j.id=jm.job AND "
                                             "jm.id='%1' LIMIT 1"))
                          .number(jobMachineId)
                          .exec();
    if (!query.next()) {
        initCommand(response, -1, CommandType::NoJob, 0);
        return;
    }
    const QSqlRecord row = query.record();
    scheduleType = row.value(QStringLiteral("scheduleType")).toInt();
    const int cmd = row.value(QStringLiteral("cmd")).toInt();
    const int prm = row.value(QStringLiteral("prm")).toInt();
    const int prm2 = row.value(QStringLiteral("prm2")).toInt();

    initCommand(response, 0, quint8(cmd), 0);
    // Alarm rules carry their own code as the rule id that a later removal matches.
    response.value = quint16(isAlarmRule(cmd) ? cmd : prm);
    response.flag = quint8(prm2 & 0xFF);
    setCommandText(response, row.value(QStringLiteral("prm3")).toString());

    if (closesOnDispatch(scheduleType))
        SqlText(QStringLiteral("UPDATE job_machines SET active=1 WHERE id='%1'"))
            .number(jobMachineId)
            .exec();

    if (cmd == CommandType::Deploy || cmd == CommandType::DeployWithSwitches ||
        cmd == CommandType::Undeploy || cmd == CommandType::UndeployWithSwitches)
        fillApplicationResponse(response, cmd);
}

void AgentServerReceiver::fillApplicationResponse(Command &response, int cmd)
{
    QSqlQuery query = SqlText(QStringLiteral("SELECT * FROM applications WHERE id='%1'"))
                          .number(response.flag)
                          .exec();
    const bool found = query.next();
    const QSqlRecord row = query.record();
    auto column = [&](const char *name) {
        return found ? row.value(QLatin1String(name)).toString() : QString();
    };
    const QString name = column("name");

    if (cmd == CommandType::Undeploy || cmd == CommandType::UndeployWithSwitches) {
        QString text = column("uninstallname") + kSplitTag;
        if (cmd == CommandType::UndeployWithSwitches)
            text += column("uninstallSwitches");
        setCommandText(response, text);
        return;
    }

    const QString fileName = column("fileName");
    QString text = fileName + kSplitTag + column("execName") + kSplitTag;
    if (cmd == CommandType::DeployWithSwitches)
        text += column("installSwitches");
    setCommandText(response, text);

    bool opened = false;
    if (locateInstaller(name, fileName)) {
        sendFile.setFileName(installerPath);
        opened = QFileInfo(installerPath).isFile() && sendFile.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        initCommand(response, -1, CommandType::InstallerMissing, 0);
        response.value = ResultCode::InstallerNotFound;
        return;
    }
    response.payloadLength = qint32(sendFile.size());
}

// A name that could step out of its directory, or is no name at all.
static bool isUnsafePathPart(const QString &part)
{
    return part.isEmpty() || part.contains(QLatin1Char('/')) || part.contains(QLatin1Char('\\')) ||
           part.contains(QLatin1String("..")) || part.contains(QChar(0));
}

bool AgentServerReceiver::locateInstaller(const QString &name, const QString &fileName)
{
    const QString cwd = QDir::currentPath();
    QString dir = cwd + QLatin1String("/upload");
    if (!QFileInfo::exists(dir)) {
        dir = cwd + QLatin1String("/kelvarix/upload");
        if (!QFileInfo::exists(dir)) {
            logMessage(QStringLiteral("Could not find installer in path: ") + dir);
            return false;
        }
    }
    if (isUnsafePathPart(name) || isUnsafePathPart(fileName)) {
        logMessage(QStringLiteral("Refused installer outside the upload directory: ") + dir +
                   QLatin1Char('/') + name + QLatin1Char('/') + fileName);
        return false;
    }
    dir += QLatin1Char('/') + name;
    if (!QFileInfo::exists(dir)) {
        logMessage(QStringLiteral("Could not find installer in path: ") + dir);
        return false;
    }
    installerPath = dir + QLatin1Char('/') + fileName;
    return true;
}

void AgentServerReceiver::recordResult(const Command &report)
{
    const QString reportData = report.payload.left(kReportDataLength);
    const qint16 status = qint16(report.value);
    if (closesOnDispatch(scheduleType)) {
        SqlText(QStringLiteral("UPDATE job_machines SET active=%1, status=%2, reportData='%3', "
                               "updated_at='%4' WHERE id=%5"))
            .number(2)
            .number(status)
            .text(reportData)
            .text(DateTimeText::now())
            .number(jobMachineId)
            .exec();
    } else {
        SqlText(QStringLiteral("UPDATE job_machines SET reportData='%1', status=%2, "
                               "updated_at='%3' WHERE id=%4"))
            .text(reportData)
            .number(status)
            .text(DateTimeText::now())
            .number(jobMachineId)
            .exec();
    }
}

void AgentServerReceiver::assignNewMachineJobs()
{
    const QString now = DateTimeText::now();
    QSqlQuery jobs = SqlText(QStringLiteral("SELECT * FROM jobs WHERE scheduleType='%1' OR "
                                            "cmd='%2' OR cmd='%3' OR cmd='%4' OR cmd='%5' OR "
                                            "cmd='%6'"))
                         .number(ScheduleType::NewMachine)
                         .number(CommandType::CpuRule)
                         .number(CommandType::MemoryRule)
                         .number(CommandType::DiskRule)
                         .number(CommandType::ProcessRule)
                         .number(CommandType::ChangesRule)
                         .exec();
    while (jobs.next()) {
        const QSqlRecord job = jobs.record();
        SqlText(QStringLiteral("INSERT INTO job_machines (creator, machine, job, active, status, "
                               "created_at) VALUES (%1, %2 ,%3 , %4, %5, '%6')"))
            .number(job.value(QStringLiteral("creator")).toInt())
            .number(machineId)
            .number(job.value(QStringLiteral("id")).toInt())
            .number(0)
            .number(ResultCode::Pending)
            .text(now)
            .exec();
    }

    QSqlQuery assigned =
        SqlText(QStringLiteral("SELECT * from job_machines as jm, jobs as j WHERE jm.active=0 AND "
                               "jm.machine=%1 AND j.scheduletype=%2 AND jm.job=j.id"))
            .number(machineId)
            .number(ScheduleType::NewMachine)
            .exec();
    QList<Job> list;
    while (assigned.next())
        list.append(Job(peerText(), 0, assigned.value(0).toInt(), machineId));
    agentServer->addPendingJobMachineId(list);

    Command notice;
    initCommand(notice, 0, CommandType::JobResult, 0);
    emit reportToManager(&notice);
}
