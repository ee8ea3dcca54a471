#include "inventorystore.h"

#include "ingestionlog.h"
#include "inventorytemplates.h"
#include "reporttransaction.h"
#include "sqltext.h"

namespace
{

using T = InventoryTemplates;

// A table replaced from one section: DELETE for the machine, then one INSERT per row.
struct ReplacedTable {
    T::Section section;
    const char *table;
    const char *insertPrefix;
};

const ReplacedTable kSoftware = {T::RegistrySoftware, "softwares",
                                 "INSERT into softwares "
                                 "(displayName,publisher,version,installLocation,unistallString,"
                                 "mid,created_at,updated_at) VALUES "};
const ReplacedTable kProcesses = {
    T::Processes, "processes",
    "INSERT into processes (pid, name, path, mid, created_at, updated_at) VALUES "};

// Replaced after the monitoring row, in this order.
const ReplacedTable kLaterTables[] = {
    {T::Environment, "environment_variables",
     "INSERT into environment_variables (name, systemvariable, variablevalue, mid, created_at, "
     "updated_at) VALUES "},
    {T::Services, "os_services",
     "INSERT into os_services "
     "(display_name,name,process_id,path_name,state,start_mode,error_control,mid,created_at,"
     "updated_at) VALUES "},
    {T::Printers, "printers",
     "INSERT into printers "
     "(caption,name,status,sharename,portname,network,shared,mid,created_at,updated_at) VALUES "},
    {T::StartUpApplications, "start_up_applications",
     "INSERT into start_up_applications "
     "(name,description,command,username,location,mid,created_at,updated_at) VALUES "},
    {T::Updates, "updates",
     "INSERT into updates "
     "(name,status,hotfixid,caption,InstalledOn,ServicePackInEffect,mid,created_at,updated_at) "
     "VALUES "},
    {T::Users, "os_users",
     "INSERT into os_users (caption,domain,fullname,name,mid,created_at,updated_at) VALUES "},
    {T::Shares, "shares",
     "INSERT into shares (name,description,caption,path,mid,created_at,updated_at) VALUES "},
};

// Hardware rows inserted after the aggregate values and the operating system.
const ReplacedTable kHardwareRows[] = {
    {T::Memory, "memories",
     "INSERT into memories (memory_id, form, detail, memory_type, size, speed, mid, "
     "created_at,updated_at) VALUES "},
    {T::Drives, "drives",
     "INSERT into drives (name, description, filesystem, size, volumeSerialNumber, mid, available, "
     "created_at,updated_at) VALUES "},
    {T::Processors, "cpus",
     "INSERT into cpus (cpu_id, name, manufacturer, description, processorid, architecture, "
     "numberofcores, maxclockspeed, mid, created_at,updated_at) VALUES "},
    {T::Video, "video_controllers",
     "INSERT into video_controllers "
     "(name,adapterram,acceleratorcapabilities,adapterdactype,driverversion,installeddrivers,"
     "videomode,videoarch,videomemtype,mid,created_at,updated_at) VALUES "},
    {T::NetworkAdapters, "network_adapters",
     "INSERT into network_adapters "
     "(name,adaptertype,manufacturer,macaddress,dhcpenabled,ipaddress,ipsubnet,defaultipgateway,"
     "dhcpserver,mid,created_at,updated_at) VALUES "},
};

const char *const kHardwareTables[] = {
    "os_details",        "memories",         "drives",          "cpus",
    "video_controllers", "network_adapters", "aggregate_values"};

class Writer
{
public:
    Writer(const QSqlDatabase &db, int machineId, const QString &timestamp)
        : transaction(db), machineId(machineId), timestamp(timestamp)
    {
    }

    void deleteRows(const char *table)
    {
        transaction.run(SqlText(QStringLiteral("DELETE FROM %1 WHERE mid=%2"))
                            .fragment(QLatin1String(table))
                            .number(qint64(machineId)));
    }

    // The row's values as literals; drives carry a 0 availability after the machine id.
    QStringList tuples(const ValueRows &rows, bool withAvailability) const
    {
        const QString mid = QString::number(machineId);
        const QString date = SqlText::literal(timestamp);
        QStringList tuples;
        tuples.reserve(rows.size());
        for (const QStringList &row : rows) {
            QStringList literals;
            literals.reserve(row.size() + 4);
            for (const QString &value : row)
                literals << SqlText::literal(value);
            literals << mid;
            if (withAvailability)
                literals << QStringLiteral("0");
            literals << date << date;
            tuples << ReportTransaction::tuple(literals);
        }
        return tuples;
    }

    void insert(const ReplacedTable &table, const ValueRows &rows)
    {
        transaction.insertRows(QLatin1String(table.insertPrefix),
                               tuples(rows, table.section == T::Drives));
    }

    void replace(const ReplacedTable &table, const ValueRows &rows)
    {
        if (rows.isEmpty())
            return;
        deleteRows(table.table);
        insert(table, rows);
    }

    ReportTransaction transaction;
    const int machineId;
    const QString timestamp;
};

QString firstValue(const ValueRows &rows)
{
    return rows.isEmpty() || rows.first().isEmpty() ? QString() : rows.first().first();
}

} // namespace

void InventoryStore::store(const QSqlDatabase &db, int machineId,
                           const QVector<ValueRows> &sections, const QString &timestamp)
{
    if (sections.size() != T::SectionCount)
        return;
    if (!db.isOpen()) {
        qCWarning(lcIngestion) << "inventory of machine" << machineId << "not stored: no database";
        return;
    }
    Writer writer(db, machineId, timestamp);
    const auto rows = [&sections](T::Section section) -> const ValueRows & {
        return sections.at(section);
    };

    if (!rows(T::OperatingSystem).isEmpty()) {
        for (const char *table : kHardwareTables)
            writer.deleteRows(table);
        const InventoryValues::Totals totals =
            InventoryValues::totals(rows(T::Memory), rows(T::Processors), rows(T::Drives));
        writer.transaction.run(
            SqlText(
                QStringLiteral("INSERT INTO aggregate_values(memory_size,cpu_numbers,drive_size,"
                               "mid,created_at,updated_at) VALUES (%1,%2,%3,%4,'%5','%6')"))
                .fragment(totals.memorySize)
                .number(qint64(totals.cpuNumbers))
                .fragment(totals.driveSize)
                .number(qint64(machineId))
                .text(timestamp)
                .text(timestamp));

        // Further operating-system rows are ignored; the computer name completes the first.
        QStringList os = rows(T::OperatingSystem).first();
        while (os.size() < 5)
            os << QString();
        SqlText osDetails(QStringLiteral(
            "INSERT into os_details (OS_Caption, OS_Version, OS_Servicepack, OS_Architecture, "
            "OS_SerialNumber, name, mid, created_at,updated_at) VALUES "
            "('%1','%2','%3','%4','%5', '%6','%7', '%8','%9')"));
        for (int i = 0; i < 5; ++i)
            osDetails.text(os.at(i));
        osDetails.text(firstValue(rows(T::ComputerName)))
            .text(QString::number(machineId))
            .text(timestamp)
            .text(timestamp);
        writer.transaction.run(osDetails);

        for (const ReplacedTable &table : kHardwareRows)
            writer.insert(table, rows(table.section));
    }

    writer.replace(kSoftware, rows(T::RegistrySoftware));
    writer.replace(kProcesses, rows(T::Processes));

    if (InventoryValues::monitoringDue(rows(T::CpuLoad), rows(T::MemoryLoad),
                                       rows(T::SystemObjects), rows(T::NetworkLoad),
                                       rows(T::Batteries))) {
        const QStringList metrics = InventoryValues::monitoringValues(
            rows(T::CpuLoad), rows(T::MemoryLoad), rows(T::SystemObjects), rows(T::DiskLoad),
            rows(T::NetworkLoad), rows(T::Batteries));
        SqlText monitoring(QStringLiteral(
            "INSERT into monitorings (mid, created_at,updated_at, cpuUsagePercentage, "
            "memoryUsagePercentage, numberOfProcess, numberOfThread, diskUsagePercentage, "
            "netAdapterUsagePercentage, battery) VALUES "
            "(%1, '%2', '%3', '%4', '%5', '%6', '%7', '%8', '%9', '%10')"));
        monitoring.number(qint64(machineId)).text(timestamp).text(timestamp);
        for (const QString &metric : metrics)
            monitoring.text(metric);
        writer.transaction.run(monitoring);
    }

    for (const InventoryValues::FreeSpace &drive :
         InventoryValues::driveAvailability(rows(T::DiskLoad))) {
        writer.transaction.run(
            SqlText(QStringLiteral("UPDATE drives SET available='%1' where name='%2' AND mid=%3"))
                .text(drive.freeSpace)
                .text(drive.name)
                .number(qint64(machineId)));
        writer.transaction.run(
            SqlText(QStringLiteral("UPDATE aggregate_values SET available='%1' where mid=%2"))
                .text(drive.freeSpace)
                .number(qint64(machineId)));
    }

    for (const ReplacedTable &table : kLaterTables)
        writer.replace(table, rows(table.section));
    writer.transaction.commit();
}
