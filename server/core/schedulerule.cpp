#include "schedulerule.h"

static QDateTime periodEnd(int scheduleType, const QDateTime &from, int count)
{
    switch (scheduleType) {
    case ScheduleType::EveryMinutes: return from.addSecs(qint64(count) * 60);
    case ScheduleType::EveryHours: return from.addSecs(qint64(count) * 3600);
    case ScheduleType::EveryDays: return from.addDays(count);
    case ScheduleType::EveryWeeks: return from.addDays(qint64(count) * 7);
    case ScheduleType::EveryMonths: return from.addMonths(count);
    default: return from;
    }
}

DueDecision decideDue(int scheduleType, const QDateTime &start, int count,
                      const QDateTime &lastReport, const QDateTime &now, int machineStatus)
{
    if (machineStatus != kMachineOffline && machineStatus != kMachineOnline)
        return DueDecision::Due;
    const bool online = machineStatus == kMachineOnline;

    switch (scheduleType) {
    case ScheduleType::Immediately:
        return online ? DueDecision::Due : DueDecision::CloseOffline;
    case ScheduleType::WhenOnline:
        return online ? DueDecision::Due : DueDecision::Wait;
    case ScheduleType::NewMachine:
        return DueDecision::Due;
    case ScheduleType::EveryMinutes:
    case ScheduleType::EveryHours:
    case ScheduleType::EveryDays:
    case ScheduleType::EveryWeeks:
    case ScheduleType::EveryMonths:
    case ScheduleType::Once:
        break;
    default:
        return DueDecision::Wait;
    }

    if (!online || !start.isValid() || now < start)
        return DueDecision::Wait;
    if (now <= start.addMSecs(kScheduleWindowMs))
        return DueDecision::Due;
    if (scheduleType == ScheduleType::Once)
        return DueDecision::Wait;
    // A repeating assignment that has never reported missed its first window (the machine
    // was offline, or its agent never answered): it has not run yet, so it is due now and
    // then again one period after its first report.
    if (!lastReport.isValid())
        return DueDecision::Due;
    return now >= periodEnd(scheduleType, lastReport, count) ? DueDecision::Due
                                                             : DueDecision::Wait;
}
