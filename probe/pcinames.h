#pragma once

#include "invprobe.h"

// Vendor and device names from the PCI ID list when one is installed.
class INVPROBE_EXPORT PciNames
{
public:
    // Hexadecimal ids without "0x"; "PCI device VVVV:DDDD" when the list does not know them.
    static QString deviceName(const QString &vendorId, const QString &deviceId);
    static QString vendorName(const QString &vendorId);

private:
    static bool lookup(const QString &vendorId, const QString &deviceId, QString &vendor,
                       QString &device);
};
