#pragma once

#include "pcinames.h"

// The maker of a device, found from its sysfs directory upwards: a numeric PCI vendor id
// named by the PCI ID list, else the name the kernel reports (a USB manufacturer, a SCSI
// vendor), else the name udev's hardware database recorded for the device.
class INVPROBE_EXPORT DeviceVendor
{
public:
    struct Sources {
        QStringList idLists = PciNames::defaultLists();
        QString udevDataDir = QStringLiteral("/run/udev/data");
    };

    // `deviceDir` is the device link of a class entry (/sys/class/net/eth0/device); empty when
    // nothing names the maker.
    static QString name(const QString &deviceDir);
    static QString name(const QString &deviceDir, const Sources &sources);
};
