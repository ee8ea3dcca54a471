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

    // One file system's space as df reports it, in bytes: blocks reserved for the
    // administrator count neither as used nor as available.
    struct Space {
        quint64 size = 0;      // every block
        quint64 used = 0;      // size minus the free blocks
        quint64 available = 0; // what an ordinary user may still write
    };
    static Space spaceFromBlocks(quint64 blocks, quint64 freeBlocks, quint64 availableBlocks,
                                 quint64 blockSize);
    // Whole percent of the usable space (used + available) still available, rounded down, so
    // that 100 minus it is df's Use%, which rounds up. A file system without usable space
    // counts as wholly free: it cannot fill up.
    static qint32 percentAvailable(const Space &space);

    static bool logicalDisks(QVector<ManagementObject> &instances);
    static bool logicalDiskCounters(QVector<ManagementObject> &instances);
    static bool diskDrives(QVector<ManagementObject> &instances);
    static bool diskPartitions(QVector<ManagementObject> &instances);
    static bool shares(QVector<ManagementObject> &instances);
};
