#pragma once

#include "invprobe.h"

#include <QStringList>

// Vendor and device names from the PCI ID list when one is installed.
class INVPROBE_EXPORT PciNames
{
public:
    // Where the Debian packages pci.ids and hwdata put the list.
    static QStringList defaultLists();

    // Hexadecimal ids without "0x"; "PCI device VVVV:DDDD" when the list does not know them.
    static QString deviceName(const QString &vendorId, const QString &deviceId);
    // Empty when no list knows the vendor; the first readable list is the one asked.
    static QString vendorName(const QString &vendorId, const QStringList &idLists = defaultLists());

private:
    static bool lookup(const QStringList &idLists, const QString &vendorId, const QString &deviceId,
                       QString &vendor, QString &device);
};
