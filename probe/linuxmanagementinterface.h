#pragma once

#include "managementinterface.h"

#include <QVector>

// Answers the management-interface classes from the running Linux system
// (/proc, /sys, /etc, statvfs, the passwd database, systemd units, dpkg).
class INVPROBE_EXPORT LinuxManagementInterface : public ManagementInterface
{
public:
    using Collector = bool (*)(QVector<ManagementObject> &instances);

    OpenResult open() override;
    std::unique_ptr<ManagementEnumerator> execQuery(const QString &wql) override;

    // The collector of a class, or null when the class is not served.
    static Collector collectorFor(const QString &className);

private:
    // Instances already read on this connection: one call sees one snapshot of a class, and
    // counters that need two samples are sampled once however many queries filter them.
    QHash<QString, QVector<ManagementObject>> collected;
};
