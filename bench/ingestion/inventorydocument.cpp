#include "inventorydocument.h"

#include <initializer_list>
#include <utility>

namespace
{

using Field = std::pair<const char *, QByteArray>;

// Appends <name> holding one text child per field, in order.
void record(QByteArray &doc, const char *name, std::initializer_list<Field> fields)
{
    doc.append('<').append(name).append('>');
    for (const Field &field : fields)
        doc.append('<')
            .append(field.first)
            .append('>')
            .append(field.second)
            .append("</")
            .append(field.first)
            .append('>');
    doc.append("</").append(name).append('>');
}

QByteArray n(int value)
{
    return QByteArray::number(value);
}

QByteArray join(const char *a, const QByteArray &b, const char *c = "")
{
    return QByteArray(a).append(b).append(c);
}

} // namespace

QByteArray InventoryDocument::build(const Counts &counts)
{
    QByteArray doc("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>");

    doc.append("<hardware>");
    record(doc, "operatingsystem",
           {{"caption", "Debian GNU/Linux 12 (bookworm)"},
            {"version", "6.1.0-18-amd64"},
            {"servicepack", "0.0"},
            {"osarch", "x86_64"},
            {"serialNumber", "4c4c4544-0042-3510"}});
    doc.append("<pcName>WS-BENCH-01</pcName>");
    record(doc, "VideoController",
           {{"Name", "Intel UHD Graphics 630"},
            {"AdapterRAM", "1024"},
            {"AcceleratorCapabilities", "Graphics Accelerator"},
            {"AdapterDACType", "Internal"},
            {"DriverVersion", "i915"},
            {"InstalledDisplayDrivers", "i915"},
            {"VideoModeDescription", "1920 x 1080"},
            {"VideoArchitecture", "VGA"},
            {"VideoMemoryType", "Unknown"}});
    doc.append("<InfoCPU>");
    record(doc, "GeneralCPU", {{"NumberOfProcessors", "1"}, {"NumberOfLogicalProcessors", "8"}});
    for (int i = 0; i < 2; ++i)
        record(doc, "CPU",
               {{"DeviceID", join("CPU", n(i))},
                {"Name", "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"},
                {"Manufacturer", "GenuineIntel"},
                {"Description", "Intel64 Family 6 Model 158"},
                {"ProcessorID", "BFEBFBFF000906EA"},
                {"Architecture", "x64"},
                {"NumberOfCores", "6"},
                {"MaxClockSpeed", "3200"}});
    doc.append("</InfoCPU><memory><mem_count>4</mem_count>");
    for (int i = 0; i < 4; ++i)
        record(doc, "bank",
               {{"id", join("DIMM ", n(i))},
                {"formfactor", "DIMM"},
                {"detail", "DDR"},
                {"typedetail", "Synchronous"},
                {"size", "8192"},
                {"speed", "2666"}});
    doc.append("</memory><Drives>");
    for (const char *drive : {"C:", "D:", "E:"})
        record(doc, "Drive",
               {{"Name", drive},
                {"Description", "Local Fixed Disk"},
                {"Filesystem", "ext4"},
                {"Size", "465.76"},
                {"VolumeSerialNumber", "A1B2C3D4"}});
    doc.append("</Drives></hardware>");

    doc.append("<Printers>");
    for (int i = 0; i < 3; ++i)
        record(doc, "Printer",
               {{"Caption", join("Printer ", n(i))},
                {"Name", join("Printer ", n(i))},
                {"Status", "3"},
                {"ShareName", ""},
                {"PortName", join("ipp://10.0.0.", n(i))},
                {"Network", "65535"},
                {"Shared", "0"}});
    doc.append("</Printers><NetworkAdapters>");
    for (int i = 0; i < 4; ++i)
        record(doc, "Adapter",
               {{"Name", join("eth", n(i))},
                {"AdapterType", "Ethernet 802.3"},
                {"Manufacturer", "Intel Corporation"},
                {"MACAddress", join("00:1A:2B:3C:4D:", n(10 + i))},
                {"DHCPEnabled", "65535"},
                {"IPAddress", join("10.0.0.", n(40 + i), " , fe80::1")},
                {"IPSubnet", "255.255.255.0 , 64"},
                {"DefaultIPGateway", "10.0.0.1"},
                {"DHCPServer", "10.0.0.2"}});
    doc.append("</NetworkAdapters><Monitor_Disk>");
    for (const char *drive : {"C:", "D:", "E:", "_Total"})
        record(doc, "disk",
               {{"Name", drive},
                {"FreeSpace", "120.50"},
                {"PercentFreeSpace", "26"},
                {"PercentUsageSpace", "74"}});
    doc.append("</Monitor_Disk>");

    doc.append("<RegistrySoftware>");
    for (int i = 0; i < counts.packages; ++i)
        record(
            doc, "package",
            {{"DisplayName", join("libexample", n(i), "-common")},
             {"Publisher",
              "Debian Library Maintainers &lt;pkg-lib-maint@lists.alioth.debian.org&gt;"},
             {"Version", join("2.36-9+deb12u", n(i % 7))},
             {"InstallLocation", join("/usr/share/doc/libexample", n(i), "-common")},
             {"UnistallString", join("/usr/bin/apt-get remove -y libexample", n(i), "-common")}});
    doc.append("</RegistrySoftware><process>");
    for (int i = 0; i < counts.processes; ++i)
        record(doc, "proc",
               {{"id", n(1000 + i)},
                {"name", join("worker-", n(i))},
                {"path", join("/usr/lib/example/bin/worker-", n(i))},
                {"description", "worker"}});
    doc.append("</process>");

    doc.append("<Monitor_CPU>");
    for (int i = 0; i < 8; ++i)
        record(doc, "cpu", {{"Name", n(i)}, {"Usage", n(10 + i)}});
    record(doc, "cpu", {{"Name", "_Total"}, {"Usage", "14"}});
    doc.append("</Monitor_CPU><Monitor_Memory>");
    record(doc, "memory", {{"AvailableMBytes", "20480"}, {"UsagePercentage", "37.5"}});
    doc.append("</Monitor_Memory><Monitor_OS_Objects>");
    record(doc, "os_objects", {{"Processes", n(counts.processes)}, {"Threads", "1450"}});
    doc.append("</Monitor_OS_Objects><Monitor_Network>");
    for (int i = 0; i < 4; ++i)
        record(doc, "adapter",
               {{"Name", join("eth", n(i))},
                {"PacketsPerSec", "120"},
                {"CurrentBandwidth", "1000000000"},
                {"BytesTotalPerSec", "4375000"},
                {"BytesSentPerSec", "375000"},
                {"BytesReceivedPerSec", "3"},
                {"Utilization", i == 0 ? "0" : "3.5"}});
    doc.append("</Monitor_Network><Batteries></Batteries>");

    doc.append("<services>");
    for (int i = 0; i < counts.services; ++i)
        record(doc, "service",
               {{"DisplayName", join("Example service ", n(i))},
                {"Name", join("example", n(i))},
                {"ProcessId", n(2000 + i)},
                {"PathName", join("/usr/sbin/example", n(i), " --config /etc/example.conf")},
                {"State", i % 3 ? "Running" : "Stopped"},
                {"StartMode", "Auto"},
                {"ErrorControl", "Normal"}});
    doc.append("</services><startUpApplications>");
    for (int i = 0; i < 10; ++i)
        record(doc, "Application",
               {{"Name", join("autostart", n(i))},
                {"Description", "Autostart entry"},
                {"Command", join("/usr/bin/autostart", n(i))},
                {"User", "root"},
                {"Location", "/etc/xdg/autostart"}});
    doc.append("</startUpApplications><EnvironmentVars>");
    for (int i = 0; i < counts.variables; ++i)
        record(doc, "Variable",
               {{"Name", join("VARIABLE_", n(i))},
                {"SystemVariable", i % 2 ? "65535" : "0"},
                {"VariableValue", join("/opt/example/", n(i), ":/usr/local/bin:/usr/bin")}});
    doc.append("</EnvironmentVars><Updates>");
    for (int i = 0; i < 100; ++i)
        record(doc, "Update",
               {{"Name", join("linux-image-", n(i))},
                {"Status", "installed"},
                {"HotFixID", join("KB", n(500000 + i))},
                {"Caption", "Security update"},
                {"InstalledOn", "2026-01-02"},
                {"ServicePackInEffect", ""}});
    doc.append("</Updates><users>");
    for (int i = 0; i < 20; ++i)
        record(doc, "user",
               {{"Caption", join("WS-BENCH-01\\user", n(i))},
                {"Domain", "WS-BENCH-01"},
                {"FullName", join("User O'Number ", n(i))},
                {"Name", join("user", n(i))}});
    doc.append("</users><shares>");
    for (int i = 0; i < 5; ++i)
        record(doc, "share",
               {{"Name", join("share", n(i))},
                {"Description", "Shared folder"},
                {"Caption", join("share", n(i))},
                {"Path", join("/srv/share", n(i))}});
    doc.append("</shares></document>");
    return doc;
}
