#include "inventorytemplates.h"

// The templates stay on one line each, as they are compared against the documented texts.
// clang-format off
QString InventoryTemplates::sectionTemplate(Section section)
{
    switch (section) {
    case OperatingSystem:
        return QStringLiteral("doc($data)/document/hardware/operatingsystem/<sql>'{string(caption)}','{string(version)}','{string(servicepack)}','{string(osarch)}','{string(serialNumber)}'</sql>");
    case ComputerName:
        return QStringLiteral("doc($data)/document/hardware/<sql>'{string(pcName)}'</sql>");
    case Processors:
        return QStringLiteral("doc($data)/document/hardware/InfoCPU/CPU/<sql>'{string(DeviceID)}','{string(Name)}','{string(Manufacturer)}','{string(Description)}','{string(ProcessorID)}','{string(Architecture)}','{string(NumberOfCores)}','{string(MaxClockSpeed)}'</sql>");
    case Memory:
        return QStringLiteral("doc($data)/document/hardware/memory/bank/<sql>'{string(id)}','{string(formfactor)}','{string(detail)}','{string(typedetail)}','{string(size)}','{string(speed)}'</sql>");
    case Drives:
        return QStringLiteral("doc($data)/document/hardware/Drives/Drive/<sql>'{string(Name)}','{string(Description)}','{string(Filesystem)}','{string(Size)}','{string(VolumeSerialNumber)}'</sql>");
    case Video:
        return QStringLiteral("doc($data)/document/hardware/VideoController/<sql>'{string(Name)}','{string(AdapterRAM)}','{string(AcceleratorCapabilities)}','{string(AdapterDACType)}','{string(DriverVersion)}','{string(InstalledDisplayDrivers)}','{string(VideoModeDescription)}','{string(VideoArchitecture)}','{string(VideoMemoryType)}'</sql>");
    case Batteries:
        return QStringLiteral("doc($data)/document/Batteries/Battery/<sql>'{string(Name)}','{string(DeviceID)}','{string(EstimatedChargeRemaining)}','{string(BatteryStatus)}'</sql>");
    case Processes:
        return QStringLiteral("doc($data)/document/process/proc/<sql>'{string(id)}','{string(name)}','{string(path)}'</sql>");
    case RegistrySoftware:
        return QStringLiteral("doc($data)/document/RegistrySoftware/package/<sql>'{string(DisplayName)}','{string(Publisher)}','{string(Version)}','{string(InstallLocation)}','{string(UnistallString)}'</sql>");
    case CpuLoad:
        return QStringLiteral("doc($data)/document/Monitor_CPU/cpu/<sql>'{string(Name)}','{string(Usage)}'</sql>");
    case MemoryLoad:
        return QStringLiteral("doc($data)/document/Monitor_Memory/memory/<sql>'{string(AvailableMBytes)}','{string(UsagePercentage)}'</sql>");
    case SystemObjects:
        return QStringLiteral("doc($data)/document/Monitor_OS_Objects/os_objects/<sql>'{string(Processes)}','{string(Threads)}'</sql>");
    case DiskLoad:
        return QStringLiteral("doc($data)/document/Monitor_Disk/disk/<sql>'{string(Name)}','{string(FreeSpace)}','{string(PercentFreeSpace)}','{string(PercentUsageSpace)}'</sql>");
    case NetworkLoad:
        return QStringLiteral("doc($data)/document/Monitor_Network/adapter/<sql>'{string(Name)}','{string(PacketsPerSec)}','{string(CurrentBandwidth)}','{string(BytesTotalPerSec)}','{string(BytesSentPerSec)}','{string(BytesReceivedPerSec)}','{string(Utilization)}'</sql>");
    case Users:
        return QStringLiteral("doc($data)/document/users/user/<sql>'{string(Caption)}','{string(Domain)}','{string(FullName)}','{string(Name)}'</sql>");
    case Services:
        return QStringLiteral("doc($data)/document/services/service/<sql>'{string(DisplayName)}','{string(Name)}','{string(ProcessId)}','{string(PathName)}', '{string(State)}','{string(StartMode)}','{string(ErrorControl)}'</sql>");
    case Updates:
        return QStringLiteral("doc($data)/document/Updates/Update/<sql>'{string(Name)}','{string(Status)}','{string(HotFixID)}','{string(Caption)}','{string(InstalledOn)}','{string(ServicePackInEffect)}'</sql>");
    case Printers:
        return QStringLiteral("doc($data)/document/Printers/Printer/<sql>'{string(Caption)}','{string(Name)}','{string(Status)}','{string(ShareName)}','{string(PortName)}','{string(Network)}','{string(Shared)}'</sql>");
    case StartUpApplications:
        return QStringLiteral("doc($data)/document/startUpApplications/Application/<sql>'{string(Name)}','{string(Description)}','{string(Command)}','{string(User)}','{string(Location)}'</sql>");
    case Shares:
        return QStringLiteral("doc($data)/document/shares/share/<sql>'{string(Name)}','{string(Description)}','{string(Caption)}','{string(Path)}'</sql>");
    case Environment:
        return QStringLiteral("doc($data)/document/EnvironmentVars/Variable/<sql>'{string(Name)}','{string(SystemVariable)}','{string(VariableValue)}'</sql>");
    case NetworkAdapters:
        return QStringLiteral("doc($data)/document/NetworkAdapters/Adapter/<sql>'{string(Name)}','{string(AdapterType)}','{string(Manufacturer)}','{string(MACAddress)}', '{string(DHCPEnabled)}', '{string(IPAddress)}', '{string(IPSubnet)}', '{string(DefaultIPGateway)}', '{string(DHCPServer)}'</sql>");
    case SectionCount:
        break;
    }
    return QString();
}

// clang-format on

QStringList InventoryTemplates::sectionTemplates()
{
    QStringList templates;
    for (int i = 0; i < SectionCount; ++i)
        templates << sectionTemplate(static_cast<Section>(i));
    return templates;
}

// clang-format off
QString InventoryTemplates::alarmTemplate(AlarmKind kind)
{
    switch (kind) {
    case CpuAlarm:
        return QStringLiteral("doc($data)/document/alarms/cpuAlarm/<sql>'{string(value)}'</sql>");
    case MemoryAlarm:
        return QStringLiteral("doc($data)/document/alarms/memoryAlarm/<sql>'{string(value)}'</sql>");
    case DiskAlarm:
        return QStringLiteral("doc($data)/document/alarms/diskAlarm/<sql>'{string(value)}'</sql>");
    case StartedAlarmProcesses:
        return QStringLiteral("doc($data)/document/alarms/startedAlarmProcesses/process/<sql>'{string(.)}'</sql>");
    case StoppedAlarmProcesses:
        return QStringLiteral("doc($data)/document/alarms/stoppedAlarmProcesses/process/<sql>'{string(.)}'</sql>");
    case HardwareChangesAlarm:
        return QStringLiteral("doc($data)/document/alarms/hardwareChangesAlarm/<sql>'{string(value)}'</sql>");
    case NewSoftwareAlarm:
        return QStringLiteral("doc($data)/document/alarms/newSoftwareAlarm/software/<sql>'{string(.)}'</sql>");
    case DeletedSoftwareAlarm:
        return QStringLiteral("doc($data)/document/alarms/deletedSoftwareAlarm/software/<sql>'{string(.)}'</sql>");
    case AlarmKindCount:
        break;
    }
    return QString();
}

// clang-format on

QStringList InventoryTemplates::alarmTemplates()
{
    QStringList templates;
    for (int i = 0; i < AlarmKindCount; ++i)
        templates << alarmTemplate(static_cast<AlarmKind>(i));
    return templates;
}

int InventoryTemplates::alarmId(AlarmKind kind)
{
    static const int ids[AlarmKindCount] = {22, 24, 23, 30, 31, 27, 28, 29};
    return kind >= 0 && kind < AlarmKindCount ? ids[kind] : 0;
}
