#pragma once

#include "invprobe.h"

#include <QByteArray>
#include <QVector>

// Memory arrays and modules from the firmware's SMBIOS table (/sys/firmware/dmi/tables/DMI).
class INVPROBE_EXPORT SmbiosTable
{
public:
    static constexpr const char *kTablePath = "/sys/firmware/dmi/tables/DMI";

    struct MemoryArray {
        int memoryDevices = 0;
    };
    // Codes already translated to the management interface's numbering.
    struct MemoryModule {
        quint64 capacityBytes = 0;
        QString deviceLocator;
        int formFactor = 0;
        int memoryType = 0;
        int typeDetail = 0;
        int speed = 0;
    };

    // Reads system-memory arrays (type 16) and installed modules (type 17) from raw table
    // bytes; short or malformed structures end the walk without harm.
    static void parse(const QByteArray &table, QVector<MemoryArray> &arrays,
                      QVector<MemoryModule> &modules);

    static int formFactorCode(int smbiosFormFactor);
    static int memoryTypeCode(int smbiosMemoryType);
};
