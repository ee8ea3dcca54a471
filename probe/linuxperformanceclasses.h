#pragma once

#include "managementobject.h"

#include <QVector>

// Counters that need two samples: CPU load from /proc/stat, plus memory and object counts.
class INVPROBE_EXPORT LinuxPerformanceClasses
{
public:
    // Time between the two samples of a rate.
    static constexpr int kSampleIntervalMs = 250;

    struct CpuTimes {
        quint64 busy = 0;
        quint64 total = 0;
    };
    // Per "cpuN" line and the summary line (key "_Total") of /proc/stat text.
    static QHash<QString, CpuTimes> parseStat(const QString &statText);
    // Whole percent of busy time between two samples, 0 to 100.
    static qint64 busyPercent(const CpuTimes &before, const CpuTimes &after);

    static bool processorCounters(QVector<ManagementObject> &instances);
    static bool memoryCounters(QVector<ManagementObject> &instances);
    static bool objectCounters(QVector<ManagementObject> &instances);
};
