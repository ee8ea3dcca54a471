// The members with a nested query per object: network adapters and disk drives.
#include "invprobe.h"
#include "probecall.h"
#include "valueforms.h"
#include "wmiconnection.h"

int query_network_adapters(QString &text)
{
    WmiConnection connection;
    QString failure;
    if (!connection.open(failure))
        return ProbeCall::fail(text, failure);
    auto adapters = connection.query(QStringLiteral("SELECT * FROM Win32_NetworkAdapter"));
    if (!adapters)
        return ProbeCall::fail(text, QStringLiteral("Query for network adapters failed."));

    QString out = QStringLiteral("<NetworkAdapters>");
    ManagementObject adapter;
    while (adapters->next(adapter)) {
        out += QLatin1String("<Adapter>");
        out += ProbeCall::renderElements(adapter, {{"Name", "Name"},
                                                   {"AdapterType", "AdapterType"},
                                                   {"Manufacturer", "Manufacturer"},
                                                   {"MACAddress", "MACAddress"}});
        const quint32 index = quint32(adapter.get(QStringLiteral("Index")).toInt32());
        auto configurations = connection.query(
            QStringLiteral("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index=%1")
                .arg(index));
        if (!configurations)
            return ProbeCall::fail(
                text, QStringLiteral("Query for network adapter configuration info failed."));
        ManagementObject configuration;
        while (configurations->next(configuration)) {
            out +=
                ProbeCall::renderElements(configuration, {{"DHCPEnabled", "DHCPEnabled"},
                                                          {"IPAddress", "IPAddress"},
                                                          {"IPSubnet", "IPSubnet"},
                                                          {"DefaultIPGateway", "DefaultIPGateway"},
                                                          {"DHCPServer", "DHCPServer"}});
        }
        out += QLatin1String("</Adapter>");
    }
    out += QLatin1String("</NetworkAdapters>");
    text += out;
    return 0;
}

namespace
{

QString gibibytes(const PropertyValue &bytes)
{
    return twoDecimalForm(double(bytes.toUInt64()) / 1073741824.0);
}

} // namespace

int query_disks(QString &text)
{
    WmiConnection connection;
    QString failure;
    if (!connection.open(failure))
        return ProbeCall::fail(text, failure);
    auto disks = connection.query(QStringLiteral("SELECT * FROM Win32_DiskDrive"));
    if (!disks)
        return ProbeCall::fail(text, QStringLiteral("Query for disks failed."));

    QString out = QStringLiteral("<?xml version=\"1.0\"?><system><Disks>");
    ManagementObject disk;
    while (disks->next(disk)) {
        out += QLatin1String("<Disk>");
        out += ProbeCall::renderElements(disk, {{"Name", "Name"},
                                                {"Description", "Description"},
                                                {"Manufacturer", "Manufacturer"},
                                                {"Model", "Model"},
                                                {"ServiceName", "ServiceName"},
                                                {"MediaLoaded", "MediaLoaded"},
                                                {"MediaType", "MediaType"},
                                                {"Partitions", "Partitions"},
                                                {"SCSIBus", "SCSIBus"},
                                                {"SCSILogicalUnit", "SCSILogicalUnit"},
                                                {"SCSIPort", "SCSIPort"},
                                                {"SCSITargetID", "SCSITargetId"},
                                                {"SectorsPerTrack", "SectorsPerTrack"}});
        out += element(QStringLiteral("Size"), gibibytes(disk.get(QStringLiteral("Size"))));
        out += ProbeCall::renderElements(disk, {{"TotalCylinders", "TotalCylinders"},
                                                {"TotalSectors", "TotalSectors"},
                                                {"TotalTracks", "TotalTracks"},
                                                {"TracksPerCylinder", "TracksPerCylinder"}});
        const quint32 index = quint32(disk.get(QStringLiteral("Index")).toInt32());
        auto partitions = connection.query(
            QStringLiteral("SELECT * FROM Win32_DiskPartition WHERE DiskIndex=%1").arg(index));
        if (!partitions)
            return ProbeCall::fail(text, QStringLiteral("Query for disks partitions info failed."));
        out += QLatin1String("<DiskPartions>");
        ManagementObject partition;
        while (partitions->next(partition)) {
            out += QLatin1String("<DiskPartion>");
            out += ProbeCall::renderElements(partition, {{"Name", "Name"},
                                                         {"Description", "Description"},
                                                         {"Type", "Type"},
                                                         {"PrimaryPartition", "PrimaryPartition"},
                                                         {"Bootable", "Bootable"}});
            out +=
                element(QStringLiteral("Size"), gibibytes(partition.get(QStringLiteral("Size"))));
            out += ProbeCall::renderElements(partition, {{"StartingOffset", "StartingOffset"}});
            out += QLatin1String("</DiskPartion>");
        }
        out += QLatin1String("</DiskPartions></Disk>");
    }
    out += QLatin1String("</Disks></system>");
    text += out;
    return 0;
}
