#pragma once

#include "managementobject.h"

#include <QVector>

// Mounted file systems, disks and their partitions, free space, and exported shares.
class INVPROBE_EXPORT LinuxStorageClasses
{
public:
    struct Mount {
        QString device;
        QString mountPoint;
        QString type;
    };
    // The real file systems of /proc/self/mounts text: block devices and network file
    // systems, each device once, mount points with their octal escapes decoded.
    static QVector<Mount> parseMounts(const QString &mountsText);

    static bool logicalDisks(QVector<ManagementObject> &instances);
    static bool logicalDiskCounters(QVector<ManagementObject> &instances);
    static bool diskDrives(QVector<ManagementObject> &instances);
    static bool diskPartitions(QVector<ManagementObject> &instances);
    static bool shares(QVector<ManagementObject> &instances);
};
