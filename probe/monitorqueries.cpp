// The monitoring members: performance counters as fragments or as bare figures.
#include "invprobe.h"
#include "networkcounterpattern.h"
#include "probecall.h"
#include "probelog.h"
#include "translationtables.h"
#include "valueforms.h"
#include "wmiconnection.h"

#include <cmath>

namespace
{

// Opens the connection and runs one query, filling `failure` on either failure.
std::unique_ptr<ManagementEnumerator> openAndQuery(WmiConnection &connection, const QString &wql,
                                                   const QString &queryFailure, QString &failure)
{
    if (!connection.open(failure))
        return nullptr;
    auto results = connection.query(wql);
    if (!results)
        failure = queryFailure;
    return results;
}

} // namespace

int monitor_cpu(QString &text, bool total)
{
    WmiConnection connection;
    QString failure;
    auto results = openAndQuery(
        connection,
        total ? QStringLiteral(
                    "SELECT * FROM Win32_PerfFormattedData_PerfOS_Processor where Name = '_Total'")
              : QStringLiteral("SELECT * FROM Win32_PerfFormattedData_PerfOS_Processor"),
        QStringLiteral("Query for cpu performance failed."), failure);
    if (!results)
        return ProbeCall::fail(text, failure);
    QString out;
    ManagementObject cpu;
    if (total) {
        while (results->next(cpu))
            out += variantText(cpu.get(QStringLiteral("PercentProcessorTime")));
    } else {
        out = QStringLiteral("<Monitor_CPU>");
        while (results->next(cpu)) {
            out += QLatin1String("<cpu>");
            out += ProbeCall::renderElements(cpu,
                                             {{"Name", "Name"}, {"Usage", "PercentProcessorTime"}});
            out += QLatin1String("</cpu>");
        }
        out += QLatin1String("</Monitor_CPU>");
    }
    text += out;
    return 0;
}

int monitor_memory(QString &text, bool bare)
{
    WmiConnection connection;
    QString failure;
    auto modules = openAndQuery(connection, QStringLiteral("SELECT * FROM Win32_PhysicalMemory"),
                                QStringLiteral("Query for memory devices failed."), failure);
    if (!modules)
        return ProbeCall::fail(text, failure);
    quint32 totalMiB = 0;
    ManagementObject object;
    while (modules->next(object))
        totalMiB += quint32(object.get(QStringLiteral("Capacity")).toUInt64() >> 20);
    modules.reset();

    if (totalMiB == 0) {
        auto systems = connection.query(QStringLiteral("Select * from Win32_OperatingSystem"));
        if (!systems)
            return ProbeCall::fail(text, QStringLiteral("Query for memory info failed."));
        while (systems->next(object))
            totalMiB =
                quint32(object.get(QStringLiteral("TotalVisibleMemorySize")).toUInt64() / 1024);
    }

    auto counters =
        connection.query(QStringLiteral("SELECT * FROM Win32_PerfFormattedData_PerfOS_Memory"));
    if (!counters)
        return ProbeCall::fail(text, QStringLiteral("Query for memory performance failed."));
    QString out;
    if (!bare)
        out = QStringLiteral("<Monitor_Memory>");
    while (counters->next(object)) {
        const PropertyValue available = object.get(QStringLiteral("AvailableMBytes"));
        // Without a known total there is no usage to report; 0 keeps the figure a number.
        double usage = 0.0;
        if (totalMiB != 0)
            usage = (1.0 - available.toDouble() / double(totalMiB)) * 100.0;
        else
            qCWarning(lcProbe) << "total memory unknown, usage reported as 0";
        if (bare) {
            out += sixDigitForm(usage);
        } else {
            out += QLatin1String("<memory>");
            out += element(QStringLiteral("AvailableMBytes"), escapedText(available));
            out += element(QStringLiteral("UsagePercentage"), sixDigitForm(usage));
            out += QLatin1String("</memory>");
        }
    }
    if (!bare)
        out += QLatin1String("</Monitor_Memory>");
    text += out;
    return 0;
}

int monitor_os_objects(QString &text)
{
    WmiConnection connection;
    QString failure;
    auto results = openAndQuery(
        connection, QStringLiteral("SELECT * FROM Win32_PerfFormattedData_PerfOS_Objects"),
        QStringLiteral("Query for os objects performance failed."), failure);
    if (!results)
        return ProbeCall::fail(text, failure);
    QString out = QStringLiteral("<Monitor_OS_Objects>");
    ManagementObject object;
    while (results->next(object)) {
        out += QLatin1String("<os_objects>");
        out +=
            ProbeCall::renderElements(object, {{"Processes", "Processes"}, {"Threads", "Threads"}});
        out += QLatin1String("</os_objects>");
    }
    out += QLatin1String("</Monitor_OS_Objects>");
    text += out;
    return 0;
}

int monitor_disk(QString &text, bool total)
{
    WmiConnection connection;
    QString failure;
    auto results =
        openAndQuery(connection,
                     total ? QStringLiteral("SELECT * FROM Win32_PerfFormattedData_PerfDisk_"
                                            "LogicalDisk where Name = '_Total'")
                           : QStringLiteral("SELECT * FROM Win32_PerfFormattedData_PerfDisk_"
                                            "LogicalDisk"),
                     QStringLiteral("Query for logical disk performance failed."), failure);
    if (!results)
        return ProbeCall::fail(text, failure);
    QString out;
    if (!total)
        out = QStringLiteral("<Monitor_Disk>");
    ManagementObject disk;
    while (results->next(disk)) {
        const PropertyValue percentFree = disk.get(QStringLiteral("PercentFreeSpace"));
        const QString used = QString::number(100 - percentFree.toInt32());
        if (total) {
            out += used;
            continue;
        }
        out += QLatin1String("<disk>");
        out += ProbeCall::renderElements(disk, {{"Name", "Name"}});
        out += element(
            QStringLiteral("FreeSpace"),
            twoDecimalForm(double(disk.get(QStringLiteral("FreeMegabytes")).toInt64()) / 1024.0));
        out += element(QStringLiteral("PercentFreeSpace"), escapedText(percentFree));
        out += element(QStringLiteral("PercentUsageSpace"), used);
        out += QLatin1String("</disk>");
    }
    if (!total)
        out += QLatin1String("</Monitor_Disk>");
    text += out;
    return 0;
}

int monitor_network(QString &text)
{
    WmiConnection connection;
    QString failure;
    auto adapters =
        openAndQuery(connection,
                     QStringLiteral("SELECT * FROM Win32_NetworkAdapter WHERE "
                                    "NetConnectionStatus=2 or NetConnectionStatus=9"),
                     QStringLiteral("Query for enabled network adapters failed."), failure);
    if (!adapters)
        return ProbeCall::fail(text, failure);
    QString out = QStringLiteral("<Monitor_Network>");
    ManagementObject adapter;
    while (adapters->next(adapter)) {
        const QString name = variantText(adapter.get(QStringLiteral("Name")));
        out += QLatin1String("<adapter>");
        out += element(QStringLiteral("Name"), escapeText(name));
        // A quote would end the WQL string early; such a name simply matches nothing.
        QString pattern = networkCounterPattern(name);
        pattern.remove(QLatin1Char('\''));
        auto counters = connection.query(
            QStringLiteral(
                "SELECT * FROM Win32_PerfFormattedData_Tcpip_NetworkInterface WHERE Name LIKE "
                "'%%1%'")
                .arg(pattern));
        if (!counters)
            return ProbeCall::fail(text,
                                   QStringLiteral("Query for network adapter %1 perfomance failed.")
                                       .arg(escapeText(name)));
        ManagementObject set;
        while (counters->next(set)) {
            out += ProbeCall::renderElements(set, {{"PacketsPerSec", "PacketsPerSec"},
                                                   {"CurrentBandwidth", "CurrentBandwidth"},
                                                   {"BytesTotalPerSec", "BytesTotalPerSec"},
                                                   {"BytesSentPerSec", "BytesSentPerSec"}});
            out += element(
                QStringLiteral("BytesReceivedPerSec"),
                integerForm(quint64(set.get(QStringLiteral("BytesReceivedPerSec")).toInt64()) /
                            1024 / 1024));
            // The whole 64-bit bandwidth: links of 10 Gbit/s and more do not fit 32 bits.
            const quint64 bandwidth = set.get(QStringLiteral("CurrentBandwidth")).toUInt64();
            const double bytesTotal = set.get(QStringLiteral("BytesTotalPerSec")).toDouble();
            const double utilization =
                bandwidth == 0 ? 0.0 : bytesTotal * 8.0 / double(bandwidth) * 100.0;
            out += element(QStringLiteral("Utilization"), sixDigitForm(utilization));
        }
        out += QLatin1String("</adapter>");
    }
    out += QLatin1String("</Monitor_Network>");
    text += out;
    return 0;
}

int monitor_battery(QString &text)
{
    WmiConnection connection;
    QString failure;
    auto results = openAndQuery(connection, QStringLiteral("SELECT * FROM Win32_Battery"),
                                QStringLiteral("Query for battery info failed."), failure);
    if (!results)
        return ProbeCall::fail(text, failure);
    QString out = QStringLiteral("<Batteries>");
    ManagementObject battery;
    while (results->next(battery)) {
        out += QLatin1String("<Battery>");
        out += ProbeCall::renderElements(
            battery, {{"Name", "Name"},
                      {"DeviceID", "DeviceID"},
                      {"EstimatedChargeRemaining", "EstimatedChargeRemaining"}});
        out += element(QStringLiteral("BatteryStatus"),
                       batteryStatusText(battery.get(QStringLiteral("BatteryStatus")).toInt32()));
        out += QLatin1String("</Battery>");
    }
    out += QLatin1String("</Batteries>");
    text += out;
    return 0;
}
