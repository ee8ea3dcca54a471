#pragma once

#include "managementobject.h"

#include <QDateTime>
#include <QVector>

// Operating system, computer, processors, memory, video and batteries of this machine.
class INVPROBE_EXPORT LinuxSystemClasses
{
public:
    static bool operatingSystem(QVector<ManagementObject> &instances);
    static bool computerSystem(QVector<ManagementObject> &instances);
    static bool processors(QVector<ManagementObject> &instances);
    static bool physicalMemory(QVector<ManagementObject> &instances);
    static bool physicalMemoryArrays(QVector<ManagementObject> &instances);
    static bool videoControllers(QVector<ManagementObject> &instances);
    static bool batteries(QVector<ManagementObject> &instances);

    // "yyyyMMddhhmmss.000000+ooo", the interface's fixed date-time form (offset in minutes).
    static QString managementDateTime(const QDateTime &time);
    // Architecture code of a machine name from uname (x86_64 gives 9).
    static qint32 architectureCode(const QString &machine);
    // Interface battery status of a power_supply "status" text.
    static qint32 batteryStatusCode(const QString &status);
};
