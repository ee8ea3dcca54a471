// query_hardware: six parts on one connection; the first failing part ends the call.
#include "invprobe.h"
#include "probecall.h"
#include "translationtables.h"
#include "valueforms.h"
#include "wmiconnection.h"

namespace
{

// Each part appends to `out` or returns its failure text.
using Part = bool (*)(WmiConnection &, QString &out, QString &failure);

bool operatingSystemPart(WmiConnection &connection, QString &out, QString &failure)
{
    auto results = connection.query(QStringLiteral("SELECT * FROM Win32_OperatingSystem"));
    if (!results) {
        failure = QStringLiteral("Query for operating system failed.");
        return false;
    }
    out += QLatin1String("<operatingsystem>");
    ManagementObject os;
    while (results->next(os)) {
        out += ProbeCall::renderElements(os, {{"caption", "Caption"}, {"version", "Version"}});
        out += element(QStringLiteral("servicepack"),
                       escapedText(os.get(QStringLiteral("ServicePackMajorVersion"))) +
                           QLatin1Char('.') +
                           escapedText(os.get(QStringLiteral("ServicePackMinorVersion"))));
        out += ProbeCall::renderElements(
            os, {{"osarch", "OSArchitecture"}, {"serialNumber", "SerialNumber"}});
    }
    out += QLatin1String("</operatingsystem>");
    return true;
}

bool computerNamePart(WmiConnection &connection, QString &out, QString &failure)
{
    auto results = connection.query(QStringLiteral("SELECT * FROM Win32_ComputerSystem"));
    if (!results) {
        failure = QStringLiteral("Query for computer system info failed.");
        return false;
    }
    ManagementObject system;
    while (results->next(system))
        out += ProbeCall::renderElements(system, {{"pcName", "Name"}});
    return true;
}

qint32 firstInteger(const PropertyValue &value)
{
    // A list of capability codes is described by its first code.
    return value.toInt32();
}

bool videoPart(WmiConnection &connection, QString &out, QString &failure)
{
    auto results = connection.query(QStringLiteral("SELECT * FROM Win32_VideoController"));
    if (!results) {
        failure = QStringLiteral("Query for video controller info failed.");
        return false;
    }
    ManagementObject video;
    while (results->next(video)) {
        out += QLatin1String("<VideoController>");
        out += ProbeCall::renderElements(video, {{"Name", "Name"}});
        out +=
            element(QStringLiteral("AdapterRAM"),
                    integerForm(video.get(QStringLiteral("AdapterRAM")).toUInt64() / 1024 / 1024));
        out += element(QStringLiteral("AcceleratorCapabilities"),
                       acceleratorCapabilitiesText(
                           firstInteger(video.get(QStringLiteral("AcceleratorCapabilities")))));
        out += ProbeCall::renderElements(video,
                                         {{"AdapterDACType", "AdapterDACType"},
                                          {"DriverVersion", "DriverVersion"},
                                          {"InstalledDisplayDrivers", "InstalledDisplayDrivers"},
                                          {"VideoModeDescription", "VideoModeDescription"}});
        out += element(
            QStringLiteral("VideoArchitecture"),
            videoArchitectureText(video.get(QStringLiteral("VideoArchitecture")).toInt32()));
        out += element(QStringLiteral("VideoMemoryType"),
                       videoMemoryTypeText(video.get(QStringLiteral("VideoMemoryType")).toInt32()));
        out += QLatin1String("</VideoController>");
    }
    return true;
}

bool processorPart(WmiConnection &connection, QString &out, QString &failure)
{
    failure = QStringLiteral("Query for processor info failed.");
    auto systems = connection.query(QStringLiteral("SELECT * FROM Win32_ComputerSystem"));
    if (!systems)
        return false;
    out += QLatin1String("<InfoCPU><GeneralCPU>");
    ManagementObject system;
    while (systems->next(system))
        out += ProbeCall::renderElements(
            system, {{"NumberOfProcessors", "NumberOfProcessors"},
                     {"NumberOfLogicalProcessors", "NumberOfLogicalProcessors"}});
    out += QLatin1String("</GeneralCPU>");
    systems.reset();

    auto processors = connection.query(QStringLiteral("SELECT * FROM Win32_Processor"));
    if (!processors)
        return false;
    ManagementObject cpu;
    while (processors->next(cpu)) {
        out += QLatin1String("<CPU>");
        out += ProbeCall::renderElements(cpu, {{"DeviceID", "DeviceID"},
                                               {"Name", "Name"},
                                               {"Manufacturer", "Manufacturer"},
                                               {"Description", "Description"},
                                               {"ProcessorID", "ProcessorId"}});
        out += element(QStringLiteral("Architecture"),
                       architectureText(cpu.get(QStringLiteral("Architecture")).toInt32()));
        out += ProbeCall::renderElements(
            cpu, {{"NumberOfCores", "NumberOfCores"}, {"MaxClockSpeed", "MaxClockSpeed"}});
        out += QLatin1String("</CPU>");
    }
    out += QLatin1String("</InfoCPU>");
    failure.clear();
    return true;
}

bool memoryPart(WmiConnection &connection, QString &out, QString &failure)
{
    auto arrays =
        connection.query(QStringLiteral("Select MemoryDevices FROM Win32_PhysicalMemoryArray"));
    if (!arrays) {
        failure = QStringLiteral("Query for count of memory devices failed.");
        return false;
    }
    out += QLatin1String("<memory>");
    quint32 slots = 0;
    ManagementObject array;
    while (arrays->next(array)) {
        const PropertyValue devices = array.get(QStringLiteral("MemoryDevices"));
        out += element(QStringLiteral("mem_count"), escapedText(devices));
        slots = quint32(devices.toInt32());
    }
    arrays.reset();

    auto modules = connection.query(
        QStringLiteral("Select Capacity,DeviceLocator,FormFactor,MemoryType,TypeDetail,Speed FROM "
                       "Win32_PhysicalMemory"));
    if (!modules) {
        failure = QStringLiteral("Query for memory info failed.");
        return false;
    }
    // Only as many modules as the (last) array has slots become banks.
    quint64 lastCapacity = 0;
    ManagementObject module;
    for (quint32 k = 1; k <= slots && modules->next(module); ++k) {
        const quint64 capacity = module.get(QStringLiteral("Capacity")).toUInt64();
        QString speed = escapedText(module.get(QStringLiteral("Speed")));
        if (speed.isEmpty())
            speed = QStringLiteral("0");
        out += QLatin1String("<bank>");
        out += ProbeCall::renderElements(module, {{"id", "DeviceLocator"}});
        out += element(QStringLiteral("formfactor"),
                       formFactorText(module.get(QStringLiteral("FormFactor")).toInt32()));
        out += element(QStringLiteral("detail"),
                       memoryTypeText(module.get(QStringLiteral("MemoryType")).toInt32()));
        out += element(QStringLiteral("typedetail"),
                       typeDetailText(module.get(QStringLiteral("TypeDetail")).toInt32()));
        out += element(QStringLiteral("size"), integerForm(capacity >> 20));
        out += element(QStringLiteral("speed"), speed);
        out += QLatin1String("</bank>");
        lastCapacity = capacity;
    }
    modules.reset();

    if (lastCapacity == 0) {
        // Without module data the visible memory of the system stands in as one bank.
        auto systems = connection.query(QStringLiteral("Select * from Win32_OperatingSystem"));
        if (!systems) {
            failure = QStringLiteral("Query for memory info failed.");
            return false;
        }
        ManagementObject os;
        while (systems->next(os)) {
            const quint64 kib = os.get(QStringLiteral("TotalVisibleMemorySize")).toUInt64();
            out += QLatin1String("<bank><id>1</id><formfactor></formfactor><detail></detail>"
                                 "<typedetail></typedetail>");
            out += element(QStringLiteral("size"), integerForm(kib / 1024));
            out += QLatin1String("<speed>0</speed></bank>");
        }
    }
    out += QLatin1String("</memory>");
    return true;
}

bool drivesPart(WmiConnection &connection, QString &out, QString &failure)
{
    auto results = connection.query(QStringLiteral("SELECT * FROM Win32_LogicalDisk"));
    if (!results) {
        failure = QStringLiteral("Query for drives info failed.");
        return false;
    }
    out += QLatin1String("<Drives>");
    ManagementObject drive;
    while (results->next(drive)) {
        out += QLatin1String("<Drive>");
        out += ProbeCall::renderElements(
            drive,
            {{"Name", "Name"}, {"Description", "Description"}, {"Filesystem", "FileSystem"}});
        out += element(
            QStringLiteral("Size"),
            twoDecimalForm(double(drive.get(QStringLiteral("Size")).toUInt64()) / 1073741824.0));
        out += ProbeCall::renderElements(drive, {{"VolumeSerialNumber", "VolumeSerialNumber"}});
        out += QLatin1String("</Drive>");
    }
    out += QLatin1String("</Drives>");
    return true;
}

} // namespace

int query_hardware(QString &text)
{
    WmiConnection connection;
    QString failure;
    if (!connection.open(failure))
        return ProbeCall::fail(text, failure);
    static const Part parts[] = {operatingSystemPart, computerNamePart, videoPart,
                                 processorPart,       memoryPart,       drivesPart};
    QString out = QStringLiteral("<hardware>");
    for (Part part : parts) {
        if (!part(connection, out, failure))
            return ProbeCall::fail(text, failure);
    }
    out += QLatin1String("</hardware>");
    text += out;
    return 0;
}
