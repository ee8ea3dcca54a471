#include "linuxmanagementinterface.h"

#include "instancelistenumerator.h"
#include "linuxnetworkclasses.h"
#include "linuxperformanceclasses.h"
#include "linuxsoftwareclasses.h"
#include "linuxstorageclasses.h"
#include "linuxsystemclasses.h"
#include "probelog.h"

#include <QFile>

ManagementInterface::OpenResult LinuxManagementInterface::open()
{
    // Nearly every class comes from /proc; without it there is nothing to connect to.
    if (!QFile::exists(QStringLiteral("/proc/self/stat"))) {
        qCWarning(lcProbe) << "/proc is not mounted";
        return OpenResult::ConnectFailed;
    }
    return OpenResult::Ok;
}

LinuxManagementInterface::Collector LinuxManagementInterface::collectorFor(const QString &className)
{
    static const QHash<QString, Collector> collectors = {
        {QStringLiteral("win32_operatingsystem"), LinuxSystemClasses::operatingSystem},
        {QStringLiteral("win32_computersystem"), LinuxSystemClasses::computerSystem},
        {QStringLiteral("win32_processor"), LinuxSystemClasses::processors},
        {QStringLiteral("win32_physicalmemory"), LinuxSystemClasses::physicalMemory},
        {QStringLiteral("win32_physicalmemoryarray"), LinuxSystemClasses::physicalMemoryArrays},
        {QStringLiteral("win32_videocontroller"), LinuxSystemClasses::videoControllers},
        {QStringLiteral("win32_battery"), LinuxSystemClasses::batteries},
        {QStringLiteral("win32_logicaldisk"), LinuxStorageClasses::logicalDisks},
        {QStringLiteral("win32_diskdrive"), LinuxStorageClasses::diskDrives},
        {QStringLiteral("win32_diskpartition"), LinuxStorageClasses::diskPartitions},
        {QStringLiteral("win32_perfformatteddata_perfdisk_logicaldisk"),
         LinuxStorageClasses::logicalDiskCounters},
        {QStringLiteral("win32_share"), LinuxStorageClasses::shares},
        {QStringLiteral("win32_networkadapter"), LinuxNetworkClasses::adapters},
        {QStringLiteral("win32_networkadapterconfiguration"), LinuxNetworkClasses::configurations},
        {QStringLiteral("win32_perfformatteddata_tcpip_networkinterface"),
         LinuxNetworkClasses::interfaceCounters},
        {QStringLiteral("win32_process"), LinuxSoftwareClasses::processes},
        {QStringLiteral("win32_service"), LinuxSoftwareClasses::services},
        {QStringLiteral("win32_useraccount"), LinuxSoftwareClasses::userAccounts},
        {QStringLiteral("win32_quickfixengineering"), LinuxSoftwareClasses::updates},
        {QStringLiteral("win32_startupcommand"), LinuxSoftwareClasses::startupCommands},
        {QStringLiteral("win32_environment"), LinuxSoftwareClasses::environment},
        {QStringLiteral("win32_printer"), LinuxSoftwareClasses::printers},
        {QStringLiteral("win32_product"), LinuxSoftwareClasses::products},
        {QStringLiteral("win32_perfformatteddata_perfos_processor"),
         LinuxPerformanceClasses::processorCounters},
        {QStringLiteral("win32_perfformatteddata_perfos_memory"),
         LinuxPerformanceClasses::memoryCounters},
        {QStringLiteral("win32_perfformatteddata_perfos_objects"),
         LinuxPerformanceClasses::objectCounters},
    };
    return collectors.value(className.toLower(), nullptr);
}

std::unique_ptr<ManagementEnumerator> LinuxManagementInterface::execQuery(const QString &wql)
{
    WqlQuery query;
    if (!query.parse(wql)) {
        qCWarning(lcProbe) << "query not understood:" << wql;
        return nullptr;
    }
    const Collector collector = collectorFor(query.className);
    if (!collector) {
        qCWarning(lcProbe) << "class not served on this system:" << query.className;
        return nullptr;
    }
    const QString key = query.className.toLower();
    if (!collected.contains(key)) {
        QVector<ManagementObject> instances;
        if (!collector(instances)) {
            qCWarning(lcProbe) << "reading" << query.className << "failed";
            return nullptr;
        }
        collected.insert(key, instances);
    }
    return std::make_unique<InstanceListEnumerator>(query, collected.value(key));
}
