#include "translationtables.h"

#include <QHash>

namespace
{

QString lookup(const QHash<qint32, const char *> &table, qint32 value, const QString &fallback)
{
    const auto it = table.constFind(value);
    return it == table.constEnd() ? fallback : QString::fromLatin1(it.value());
}

} // namespace

QString architectureText(qint32 value)
{
    static const QHash<qint32, const char *> table = {
        {0, "x86"}, {1, "MIPS"}, {2, "Alpha"}, {3, "PowerPC"}, {6, "Itanium-based systems"},
        {9, "x64"}};
    return lookup(table, value, QString::number(value));
}

QString formFactorText(qint32 value)
{
    static const QHash<qint32, const char *> table = {
        {7, "SIMM"}, {8, "DIMM"}, {11, "RIMM"}, {12, "SODIMM"}, {13, "SRIMM"}};
    return lookup(table, value, QStringLiteral("Unknown"));
}

QString memoryTypeText(qint32 value)
{
    static const char *const names[] = {"Unknown",    "Other",  "DRAM",  "Synchronous DRAM",
                                        "Cache DRAM", "EDO",    "EDRAM", "VRAM",
                                        "SRAM",       "RAM",    "ROM",   "Flash",
                                        "EEPROM",     "FEPROM", "EPROM", "CDRAM",
                                        "3DRAM",      "SDRAM",  "SGRAM", "RDRAM",
                                        "DDR"};
    const qint32 count = qint32(sizeof(names) / sizeof(names[0]));
    return value >= 0 && value < count ? QString::fromLatin1(names[value]) : QString();
}

QString typeDetailText(qint32 value)
{
    // Compared as a whole value: a combination of bits is not one of the named details.
    static const QHash<qint32, const char *> table = {
        {1, "Reserved"},       {2, "Other"},          {4, "Unknown"},        {8, "Fast-paged"},
        {16, "Static column"}, {32, "Pseudo-static"}, {64, "RAMBUS"},        {128, "Synchronous"},
        {256, "CMOS"},         {512, "EDO"},          {1024, "Window DRAM"}, {2048, "Cache DRAM"},
        {4096, "Non-volatile"}};
    return lookup(table, value, QStringLiteral("Unknown"));
}

QString acceleratorCapabilitiesText(qint32 value)
{
    static const QHash<qint32, const char *> table = {
        {0, "Unknown"}, {1, "Other"}, {2, "Graphics Accelerator"}, {3, "Graphics Accelerator"}};
    return lookup(table, value, QString::number(value));
}

QString videoArchitectureText(qint32 value)
{
    static const QHash<qint32, const char *> table = {
        {1, "Other"},  {2, "Unknown"}, {3, "CGA"},  {4, "EGA"},
        {5, "VGA"},    {6, "SVGA"},    {7, "MDA"},  {8, "HGC"},
        {9, "MCGA"},   {10, "8514A"},  {11, "XGA"}, {12, "Linear Frame Buffer"},
        {160, "PC-98"}};
    return lookup(table, value, QString::number(value));
}

QString videoMemoryTypeText(qint32 value)
{
    static const QHash<qint32, const char *> table = {{1, "Other"},
                                                      {2, "Unknown"},
                                                      {3, "VRAM"},
                                                      {4, "DRAM"},
                                                      {5, "SRAM"},
                                                      {6, "WRAM"},
                                                      {7, "EDO RAM"},
                                                      {8, "Burst Synchronous DRAM"},
                                                      {9, "Pipelined Burst SRAM"},
                                                      {10, "CDRAM"},
                                                      {11, "3DRAM"},
                                                      {12, "SDRAM"},
                                                      {13, "SGRAM"}};
    return lookup(table, value, QString::number(value));
}

QString batteryStatusText(qint32 value)
{
    static const QHash<qint32, const char *> table = {
        {1, "The battery is discharging"},
        {2, "The system has access to AC so no battery is being discharged. However, the "
            "battery is not necessarily charging."},
        {3, "Fully Charged"},
        {4, "Low"},
        {5, "Critical"},
        {6, "Charging"},
        {7, "Charging and High"},
        {8, "Charging and Low"},
        {9, "Charging and Critical"},
        {10, "Undefined"},
        {11, "Partially Charged"}};
    return lookup(table, value, QString::number(value));
}
