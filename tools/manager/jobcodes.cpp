#include "jobcodes.h"

#include "command.h"

#include <QRegularExpression>

namespace
{

struct Named {
    int code;
    const char *name;
};

// Job commands the agent handles, by the names the tool uses on its command line.
const Named kCommands[] = {
    {CommandType::Inventory, "inventory"},
    {CommandType::Deploy, "deploy"},
    {CommandType::CommandLine, "command-line"},
    {CommandType::Undeploy, "undeploy"},
    {CommandType::DeployWithSwitches, "deploy-with-switches"},
    {CommandType::UndeployWithSwitches, "undeploy-with-switches"},
    {CommandType::CpuRule, "cpu-rule"},
    {CommandType::DiskRule, "disk-rule"},
    {CommandType::MemoryRule, "memory-rule"},
    {CommandType::ProcessRule, "process-rule"},
    {CommandType::ChangesRule, "changes-rule"},
    {CommandType::RemoveRule, "remove-rule"},
};

const char *const kSchedules[] = {"minutes",     "hours",  "days", "weeks",       "months",
                                  "immediately", "online", "once", "new-machines"};
constexpr int kScheduleCount = 9;
constexpr int kLastRepeatingType = 4;

const Named kStatuses[] = {
    {ResultCode::Pending, "pending"},
    {ResultCode::Succeeded, "succeeded"},
    {ResultCode::Failed, "failed"},
    {ResultCode::InstallerNotFound, "installer-not-found"},
    {ResultCode::NotUnderstood, "not-understood"},
    {251, "closed-offline"},
};

const Named kNoticeTypes[] = {
    {CommandType::Inventory, "Inventory"},
    {CommandType::Deploy, "Deploy"},
    {CommandType::CommandLine, "CommandLine"},
    {CommandType::FileUpload, "FileUpload"},
    {CommandType::DeleteApplication, "DeleteApplication"},
    {CommandType::MachinesChanged, "MachinesChanged"},
    {CommandType::Identity, "Identity"},
    {CommandType::FileTransfer, "FileTransfer"},
    {CommandType::ManagerHello, "ManagerHello"},
    {CommandType::BlindPacket, "BlindPacket"},
    {CommandType::Hello, "Hello"},
    {CommandType::JobResult, "JobResult"},
    {CommandType::InventoryResult, "InventoryResult"},
    {CommandType::Discovery, "Discovery"},
    {CommandType::ObserverTick, "ObserverTick"},
    {CommandType::Undeploy, "Undeploy"},
    {CommandType::DeployWithSwitches, "DeployWithSwitches"},
    {CommandType::UndeployWithSwitches, "UndeployWithSwitches"},
    {CommandType::InstallerMissing, "InstallerMissing"},
    {CommandType::CpuRule, "CpuRule"},
    {CommandType::DiskRule, "DiskRule"},
    {CommandType::MemoryRule, "MemoryRule"},
    {CommandType::ProcessRule, "ProcessRule"},
    {CommandType::ChangesRule, "ChangesRule"},
    {CommandType::AlarmReport, "AlarmReport"},
    {CommandType::RemoveRule, "RemoveRule"},
    {CommandType::NoJob, "NoJob"},
};

template <size_t N> QString nameOf(const Named (&table)[N], int code)
{
    for (const Named &entry : table)
        if (entry.code == code)
            return QLatin1String(entry.name);
    return QString();
}

// A whole decimal number within [low, high], or -1.
int boundedNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok && value >= low && value <= high ? value : -1;
}

} // namespace

const QString JobCodes::allInventorySections = QStringLiteral("1111111111");

int JobCodes::commandCode(const QString &text)
{
    for (const Named &entry : kCommands)
        if (text == QLatin1String(entry.name))
            return entry.code;
    return boundedNumber(text, 0, 255);
}

QString JobCodes::commandName(int code)
{
    const QString name = nameOf(kCommands, code);
    return name.isEmpty() ? QString::number(code) : name;
}

bool JobCodes::isJobCommand(int code)
{
    return !nameOf(kCommands, code).isEmpty();
}

bool JobCodes::usesApplication(int code)
{
    return code == CommandType::Deploy || code == CommandType::DeployWithSwitches ||
           code == CommandType::Undeploy || code == CommandType::UndeployWithSwitches;
}

bool JobCodes::isAlarmRule(int code)
{
    return code >= CommandType::CpuRule && code <= CommandType::ChangesRule;
}

int JobCodes::scheduleType(const QString &text)
{
    for (int i = 0; i < kScheduleCount; ++i)
        if (text == QLatin1String(kSchedules[i]))
            return i;
    return boundedNumber(text, 0, kScheduleCount - 1);
}

QString JobCodes::scheduleName(int type)
{
    if (type >= 0 && type < kScheduleCount)
        return QLatin1String(kSchedules[type]);
    return QString::number(type);
}

bool JobCodes::isRepeating(int type)
{
    return type >= 0 && type <= kLastRepeatingType;
}

QDateTime JobCodes::scheduleDate(const QString &text, const QDateTime &now)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("now"))
        return now;
    static const QRegularExpression relative(QStringLiteral("^([+-])(\\d{1,9})([smhd])$"));
    const QRegularExpressionMatch match = relative.match(trimmed);
    if (match.hasMatch()) {
        qint64 seconds = match.captured(2).toLongLong();
        const QChar unit = match.captured(3).at(0);
        if (unit == QLatin1Char('m'))
            seconds *= 60;
        else if (unit == QLatin1Char('h'))
            seconds *= 3600;
        else if (unit == QLatin1Char('d'))
            seconds *= 86400;
        return now.addSecs(match.captured(1) == QLatin1String("-") ? -seconds : seconds);
    }
    QString form = trimmed;
    if (form.size() == 19 && form.at(10) == QLatin1Char(' '))
        form[10] = QLatin1Char('T');
    return QDateTime::fromString(form, QStringLiteral("yyyy-MM-ddThh:mm:ss"));
}

QString JobCodes::statusName(int status)
{
    const QString name = nameOf(kStatuses, status);
    return name.isEmpty() ? QString::number(status) : name;
}

QString JobCodes::activeName(int active)
{
    switch (active) {
    case 0:
        return QStringLiteral("waiting");
    case 1:
        return QStringLiteral("dispatched");
    case 2:
        return QStringLiteral("finished");
    default:
        return QString::number(active);
    }
}

QString JobCodes::noticeTypeName(int type)
{
    const QString name = nameOf(kNoticeTypes, type);
    return name.isEmpty() ? QStringLiteral("Unknown") : name;
}

bool JobCodes::isInventoryFlags(const QString &text)
{
    static const QRegularExpression flags(QStringLiteral("^[01]{1,100}$"));
    return flags.match(text).hasMatch();
}

QStringList JobCodes::commandNames()
{
    QStringList names;
    for (const Named &entry : kCommands)
        names.append(QLatin1String(entry.name));
    return names;
}

QStringList JobCodes::scheduleNames()
{
    QStringList names;
    for (const char *name : kSchedules)
        names.append(QLatin1String(name));
    return names;
}
