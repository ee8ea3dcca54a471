#pragma once

#include <QDateTime>

// How long after its start date an assignment counts as being in its first window.
constexpr qint64 kScheduleWindowMs = 60000;

namespace ScheduleType {
enum Code {
    EveryMinutes = 0,
    EveryHours = 1,
    EveryDays = 2,
    EveryWeeks = 3,
    EveryMonths = 4,
    Immediately = 5,
    WhenOnline = 6,
    Once = 7,
    NewMachine = 8,
};
}

// What a job check does with one active assignment.
enum class DueDecision {
    Wait,         // not due now; looked at again at the next check
    Due,          // dispatch: pending list and a blind packet
    CloseOffline, // an immediate job whose machine is offline: closed with status 251
};

// Status of an immediate assignment closed because its machine was offline.
constexpr int kStatusClosedOffline = 251;

// Machine status as stored in machines.status.
constexpr int kMachineOffline = 0;
constexpr int kMachineOnline = 1;

// The due rule of the scheduler as a pure function of the assignment and the clock.
// start is the job's scheduleDate, count its scheduleCount, lastReport the assignment's
// updated_at (invalid when it never reported).
DueDecision decideDue(int scheduleType, const QDateTime &start, int count,
                      const QDateTime &lastReport, const QDateTime &now, int machineStatus);
