// The probe exports over the fixture backend: exact fragments, value forms and failures.
#include "invprobe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using Probe = int (*)(QString &);
Q_DECLARE_METATYPE(Probe)

class TestFixtureProbe : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();

    void hardwareDocument();
    void valuesAreConvertedAndEscaped();
    void emptyClassesGiveEmptyContainers_data();
    void emptyClassesGiveEmptyContainers();
    void memoryBanks_data();
    void memoryBanks();
    void memoryCodes_data();
    void memoryCodes();
    void networkAdapters();
    void standardSections_data();
    void standardSections();
    void diskDocument();
    void failingQueryReplacesText_data();
    void failingQueryReplacesText();
    void connectionStages_data();
    void connectionStages();
    void processList();

    void cpu();
    void diskUsage();
    void memoryUsage_data();
    void memoryUsage();
    void osObjects();
    void network_data();
    void network();
    void networkCounterQueryFails();
    void battery();

private:
    // Writes the machine fixture, changed by `classes` (a class replaced per key), and
    // points the library at it.
    void useMachine(const QJsonObject &classes = QJsonObject(),
                    const QJsonObject &top = QJsonObject());
    QJsonObject machine;
    QTemporaryDir dir;
    int written = 0;
};

static QJsonObject parse(const char *json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json), &error);
    if (!doc.isObject())
        qFatal("bad JSON in test: %s", qPrintable(error.errorString()));
    return doc.object();
}

void TestFixtureProbe::init()
{
    if (machine.isEmpty()) {
        QFile file(QStringLiteral(PROBE_FIXTURE_DIR "/machine.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        machine = QJsonDocument::fromJson(file.readAll()).object();
        QVERIFY(!machine.isEmpty());
    }
    useMachine();
}

void TestFixtureProbe::cleanupTestCase()
{
    qunsetenv("INVPROBE_FIXTURE");
}

void TestFixtureProbe::useMachine(const QJsonObject &classes, const QJsonObject &top)
{
    QJsonObject root = machine;
    QJsonObject all = root.value(QLatin1String("classes")).toObject();
    for (auto it = classes.constBegin(); it != classes.constEnd(); ++it)
        all.insert(it.key(), it.value());
    root.insert(QLatin1String("classes"), all);
    for (auto it = top.constBegin(); it != top.constEnd(); ++it)
        root.insert(it.key(), it.value());
    const QString path = dir.filePath(QStringLiteral("machine%1.json").arg(written++));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(root).toJson());
    file.close();
    qputenv("INVPROBE_FIXTURE", QFile::encodeName(path));
}

void TestFixtureProbe::hardwareDocument()
{
    QString text = QStringLiteral("kept:");
    QCOMPARE(query_hardware(text), 0);
    const QString expected = QStringLiteral(
        "kept:<hardware>"
        "<operatingsystem><caption>Microsoft Windows 7 Professional</caption>"
        "<version>6.1.7601</version><servicepack>1.0</servicepack><osarch>64-bit</osarch>"
        "<serialNumber>00371-OEM-8992671-00524</serialNumber></operatingsystem>"
        "<pcName>WS-017</pcName>"
        "<VideoController><Name>NVIDIA Quadro K620</Name><AdapterRAM>2048</AdapterRAM>"
        "<AcceleratorCapabilities>Unknown</AcceleratorCapabilities>"
        "<AdapterDACType>Integrated "
        "RAMDAC</AdapterDACType><DriverVersion>23.21.13.9135</DriverVersion>"
        "<InstalledDisplayDrivers>nvd3dumx.dll</InstalledDisplayDrivers>"
        "<VideoModeDescription>1920 x 1080 x 4294967296 colors</VideoModeDescription>"
        "<VideoArchitecture>VGA</VideoArchitecture><VideoMemoryType>Unknown</VideoMemoryType>"
        "</VideoController>"
        "<VideoController><Name>Intel(R) HD Graphics 530</Name><AdapterRAM>1024</AdapterRAM>"
        "<AcceleratorCapabilities>Graphics Accelerator</AcceleratorCapabilities>"
        "<AdapterDACType>Internal</AdapterDACType><DriverVersion>21.20.16.4590</DriverVersion>"
        "<InstalledDisplayDrivers>igdumdim64.dll</InstalledDisplayDrivers>"
        "<VideoModeDescription>1280 x 1024 x 4294967296 colors</VideoModeDescription>"
        "<VideoArchitecture>PC-98</VideoArchitecture><VideoMemoryType>14</VideoMemoryType>"
        "</VideoController>"
        "<InfoCPU><GeneralCPU><NumberOfProcessors>1</NumberOfProcessors>"
        "<NumberOfLogicalProcessors>2</NumberOfLogicalProcessors></GeneralCPU>"
        "<CPU><DeviceID>CPU0</DeviceID><Name>Intel(R) Core(TM) i5-6500 CPU @ 3.20GHz</Name>"
        "<Manufacturer>GenuineIntel</Manufacturer>"
        "<Description>Intel64 Family 6 Model 94 Stepping 3</Description>"
        "<ProcessorID>BFEBFBFF000506E3</ProcessorID><Architecture>x64</Architecture>"
        "<NumberOfCores>4</NumberOfCores><MaxClockSpeed>3192</MaxClockSpeed></CPU></InfoCPU>"
        "<memory><mem_count>2</mem_count>"
        "<bank><id>DIMM A</id><formfactor>DIMM</formfactor><detail>DDR</detail>"
        "<typedetail>Synchronous</typedetail><size>4096</size><speed>2133</speed></bank>"
        "<bank><id>DIMM B</id><formfactor>SODIMM</formfactor><detail></detail>"
        "<typedetail>Unknown</typedetail><size>4096</size><speed>0</speed></bank></memory>"
        "<Drives><Drive><Name>C:</Name><Description>Local Fixed Disk</Description>"
        "<Filesystem>NTFS</Filesystem><Size>465.76</Size><VolumeSerialNumber>5A3C-19F2</"
        "VolumeSerialNumber>"
        "</Drive><Drive><Name>D:</Name><Description>CD-ROM "
        "Disc</Description><Filesystem></Filesystem>"
        "<Size>0.00</Size><VolumeSerialNumber></VolumeSerialNumber></Drive></Drives>"
        "</hardware>");
    QCOMPARE(text, expected);
}

void TestFixtureProbe::valuesAreConvertedAndEscaped()
{
    QString users;
    QCOMPARE(query_users(users), 0);
    QVERIFY2(users.contains(QStringLiteral("<FullName>AT&amp;T &lt;Lab&gt; 100\"%\"</FullName>")),
             qPrintable(users));

    QString processes;
    QCOMPARE(query_process(processes), 0);
    QVERIFY2(processes.contains(QStringLiteral("<proc><id>4294967295</id><name>a&amp;b</name>"
                                               "<path>C:\\Tools\\a&amp;b.exe</path>")),
             qPrintable(processes));

    useMachine(parse(R"({"Win32_Printer": [
        {"Caption": "Lab", "Name": "Lab", "PrinterStatus": 3, "ShareName": "lab",
         "PortName": "IP_10.0.0.9", "Network": true, "Shared": false}]})"));
    QString printers;
    QCOMPARE(query_printers(printers), 0);
    QCOMPARE(printers, QStringLiteral("<Printers><Printer><Caption>Lab</Caption><Name>Lab</Name>"
                                      "<Status>3</Status><ShareName>lab</ShareName>"
                                      "<PortName>IP_10.0.0.9</PortName><Network>65535</Network>"
                                      "<Shared>0</Shared></Printer></Printers>"));
}

void TestFixtureProbe::emptyClassesGiveEmptyContainers_data()
{
    QTest::addColumn<Probe>("probe");
    QTest::addColumn<QString>("expected");
    QTest::addRow("printers") << Probe(query_printers) << QStringLiteral("<Printers></Printers>");
    QTest::addRow("batteries") << Probe(monitor_battery)
                               << QStringLiteral("<Batteries></Batteries>");
    QTest::addRow("wmi software") << Probe(query_WMI_software)
                                  << QStringLiteral("<software></software>");
}

void TestFixtureProbe::emptyClassesGiveEmptyContainers()
{
    QFETCH(Probe, probe);
    QFETCH(QString, expected);
    QString text = QStringLiteral("before");
    QCOMPARE(probe(text), 0);
    QCOMPARE(text, QStringLiteral("before") + expected);
}

static QString memoryOf(const QString &hardware)
{
    const int start = hardware.indexOf(QLatin1String("<memory>"));
    const int end = hardware.indexOf(QLatin1String("</memory>"));
    return start < 0 || end < 0 ? QString() : hardware.mid(start, end + 9 - start);
}

void TestFixtureProbe::memoryBanks_data()
{
    QTest::addColumn<QString>("classes");
    QTest::addColumn<QString>("memory");
    const QString summary = QStringLiteral(
        "<bank><id>1</id><formfactor></formfactor><detail></detail><typedetail></typedetail>"
        "<size>8192</size><speed>0</speed></bank>");
    auto module = [](const char *slot) {
        return QStringLiteral(
                   "{\"Capacity\": {\"int64\": \"2147483648\"}, \"DeviceLocator\": \"%1\", "
                   "\"FormFactor\": 8, \"MemoryType\": 17, \"TypeDetail\": 128, \"Speed\": 800}")
            .arg(QLatin1String(slot));
    };
    auto bank = [](const char *slot) {
        return QStringLiteral(
                   "<bank><id>%1</id><formfactor>DIMM</formfactor><detail>SDRAM</detail>"
                   "<typedetail>Synchronous</typedetail><size>2048</size><speed>800</speed></bank>")
            .arg(QLatin1String(slot));
    };
    QStringList six;
    for (const char *slot : {"S1", "S2", "S3", "S4", "S5", "S6"})
        six.append(module(slot));

    QTest::addRow("two arrays, six modules: the last array's slot count")
        << QStringLiteral(
               "{\"Win32_PhysicalMemoryArray\": [{\"MemoryDevices\": 4}, {\"MemoryDevices\": 2}], "
               "\"Win32_PhysicalMemory\": [%1]}")
               .arg(six.join(QLatin1Char(',')))
        << QStringLiteral("<memory><mem_count>4</mem_count><mem_count>2</mem_count>") + bank("S1") +
               bank("S2") + QStringLiteral("</memory>");
    QTest::addRow("no arrays: one summary bank")
        << QStringLiteral("{\"Win32_PhysicalMemoryArray\": [], \"Win32_PhysicalMemory\": [%1]}")
               .arg(six.join(QLatin1Char(',')))
        << QStringLiteral("<memory>") + summary + QStringLiteral("</memory>");
    QTest::addRow("last module without capacity: banks then summary")
        << QStringLiteral("{\"Win32_PhysicalMemoryArray\": [{\"MemoryDevices\": 2}], "
                          "\"Win32_PhysicalMemory\": [%1, {\"DeviceLocator\": \"S2\"}]}")
               .arg(module("S1"))
        << QStringLiteral("<memory><mem_count>2</mem_count>") + bank("S1") +
               QStringLiteral(
                   "<bank><id>S2</id><formfactor>Unknown</formfactor><detail>Unknown</detail>"
                   "<typedetail>Unknown</typedetail><size>0</size><speed>0</speed></bank>") +
               summary + QStringLiteral("</memory>");
}

void TestFixtureProbe::memoryBanks()
{
    QFETCH(QString, classes);
    QFETCH(QString, memory);
    useMachine(QJsonDocument::fromJson(classes.toUtf8()).object());
    QString text;
    QCOMPARE(query_hardware(text), 0);
    QCOMPARE(memoryOf(text), memory);
}

void TestFixtureProbe::memoryCodes_data()
{
    QTest::addColumn<int>("memoryType");
    QTest::addColumn<int>("typeDetail");
    QTest::addColumn<int>("formFactor");
    QTest::addColumn<QString>("texts");
    QTest::addRow("DDR synchronous DIMM")
        << 20 << 128 << 8
        << QStringLiteral("<formfactor>DIMM</formfactor><detail>DDR</"
                          "detail><typedetail>Synchronous</typedetail>");
    QTest::addRow("type 24 has no word, bits combined are Unknown")
        << 24 << 128 + 8192 << 13
        << QStringLiteral(
               "<formfactor>SRIMM</formfactor><detail></detail><typedetail>Unknown</typedetail>");
    QTest::addRow("zero codes") << 0 << 0 << 0
                                << QStringLiteral(
                                       "<formfactor>Unknown</formfactor><detail>Unknown</"
                                       "detail><typedetail>Unknown</typedetail>");
}

void TestFixtureProbe::memoryCodes()
{
    QFETCH(int, memoryType);
    QFETCH(int, typeDetail);
    QFETCH(int, formFactor);
    QFETCH(QString, texts);
    QJsonObject module{{QStringLiteral("Capacity"),
                        QJsonObject{{QStringLiteral("int64"), QStringLiteral("1073741824")}}},
                       {QStringLiteral("DeviceLocator"), QStringLiteral("M")},
                       {QStringLiteral("FormFactor"), formFactor},
                       {QStringLiteral("MemoryType"), memoryType},
                       {QStringLiteral("TypeDetail"), typeDetail},
                       {QStringLiteral("Speed"), 1600}};
    useMachine(QJsonObject{{QStringLiteral("Win32_PhysicalMemoryArray"),
                            QJsonArray{QJsonObject{{QStringLiteral("MemoryDevices"), 1}}}},
                           {QStringLiteral("Win32_PhysicalMemory"), QJsonArray{module}}});
    QString text;
    QCOMPARE(query_hardware(text), 0);
    QCOMPARE(memoryOf(text),
             QStringLiteral("<memory><mem_count>1</mem_count><bank><id>M</id>") + texts +
                 QStringLiteral("<size>1024</size><speed>1600</speed></bank></memory>"));
}

void TestFixtureProbe::networkAdapters()
{
    QString text;
    QCOMPARE(query_network_adapters(text), 0);
    QCOMPARE(text,
             QStringLiteral(
                 "<NetworkAdapters>"
                 "<Adapter><Name>Intel(R) PRO/1000 MT Network "
                 "Connection</Name><AdapterType>Ethernet 802.3</AdapterType>"
                 "<Manufacturer>Intel</Manufacturer><MACAddress>00:0C:29:4F:8E:35</MACAddress>"
                 "<DHCPEnabled>65535</DHCPEnabled><IPAddress>192.168.10.5 , fe80::1 , "
                 "10.0.0.5</IPAddress>"
                 "<IPSubnet>255.255.255.0 , 64 , "
                 "255.0.0.0</IPSubnet><DefaultIPGateway>192.168.10.1</DefaultIPGateway>"
                 "<DHCPServer>192.168.10.1</DHCPServer></Adapter>"
                 // No configuration with Index 9: only the four adapter children.
                 "<Adapter><Name>WAN Miniport "
                 "(IP)</Name><AdapterType></AdapterType><Manufacturer>Microsoft</Manufacturer>"
                 "<MACAddress></MACAddress></Adapter>"
                 "</NetworkAdapters>"));
}

void TestFixtureProbe::standardSections_data()
{
    QTest::addColumn<Probe>("probe");
    QTest::addColumn<QString>("expected");
    QTest::addRow("services")
        << Probe(query_os_services)
        << QStringLiteral("<services><service><DisplayName>Print "
                          "Spooler</DisplayName><Name>Spooler</Name><ProcessId>1432</ProcessId>"
                          "<PathName>C:\\Windows\\System32\\spoolsv.exe</PathName><State>Running</"
                          "State><StartMode>Auto</StartMode>"
                          "<ErrorControl>Normal</ErrorControl></service></services>");
    QTest::addRow("updates")
        << Probe(query_updates)
        << QStringLiteral(
               "<Updates><Update><Name></Name><Status></Status><HotFixID>KB2534111</HotFixID>"
               "<Caption>http://support.microsoft.com/?kbid=2534111</Caption><InstalledOn>3/15/"
               "2024</InstalledOn>"
               "<ServicePackInEffect></ServicePackInEffect></Update></Updates>");
    QTest::addRow("start-up")
        << Probe(query_startUp_applications)
        << QStringLiteral(
               "<startUpApplications><Application><Name>ZVN Agent</Name><Description>ZVN "
               "Agent</Description>"
               "<Command>\"C:\\Program Files\\ZVN\\agent.exe\"</Command><User>Public</User>"
               "<Location>HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run</Location></"
               "Application></startUpApplications>");
    QTest::addRow("shares") << Probe(query_shares)
                            << QStringLiteral(
                                   "<shares><share><Name>ADMIN$</Name><Description>Remote "
                                   "Admin</Description><Caption>Remote Admin</Caption>"
                                   "<Path>C:\\Windows</Path></share></shares>");
    QTest::addRow("environment")
        << Probe(query_environment_variables)
        << QStringLiteral(
               "<EnvironmentVars><Variable><Name>PATHEXT</Name><SystemVariable>65535</"
               "SystemVariable>"
               "<VariableValue>.COM;.EXE;.BAT</VariableValue></Variable><Variable><Name>TEMP</Name>"
               "<SystemVariable>0</"
               "SystemVariable><VariableValue>\"%\"USERPROFILE\"%\"\\AppData\\Local\\Temp</"
               "VariableValue>"
               "</Variable></EnvironmentVars>");
    QTest::addRow("uptime") << Probe(query_uptime)
                            << QStringLiteral("<uptime_info><uptime><LastBootUpTime>20240315081502."
                                              "500000+060</LastBootUpTime></uptime></uptime_info>");
}

void TestFixtureProbe::standardSections()
{
    QFETCH(Probe, probe);
    QFETCH(QString, expected);
    QString text;
    QCOMPARE(probe(text), 0);
    QCOMPARE(text, expected);
}

void TestFixtureProbe::diskDocument()
{
    QString text;
    QCOMPARE(query_disks(text), 0);
    QCOMPARE(
        text,
        QStringLiteral(
            "<?xml version=\"1.0\"?><system><Disks><Disk><Name>\\\\.\\PHYSICALDRIVE0</Name>"
            "<Description>Disk drive</Description><Manufacturer>(Standard disk "
            "drives)</Manufacturer>"
            "<Model>ST500DM002</Model><ServiceName>disk</ServiceName><MediaLoaded>65535</"
            "MediaLoaded>"
            "<MediaType>Fixed hard disk "
            "media</MediaType><Partitions>2</Partitions><SCSIBus>0</SCSIBus>"
            "<SCSILogicalUnit>0</SCSILogicalUnit><SCSIPort>0</SCSIPort><SCSITargetID>0</"
            "SCSITargetID>"
            "<SectorsPerTrack>63</SectorsPerTrack><Size>465.76</Size><TotalCylinders>60801</"
            "TotalCylinders>"
            "<TotalSectors>976768065</TotalSectors><TotalTracks>15504255</TotalTracks>"
            "<TracksPerCylinder>255</TracksPerCylinder><DiskPartions><DiskPartion><Name>Disk #0, "
            "Partition #0</Name>"
            "<Description>Installable File System</Description><Type>Installable File System</Type>"
            "<PrimaryPartition>65535</PrimaryPartition><Bootable>65535</Bootable><Size>0.10</Size>"
            "<StartingOffset>1048576</StartingOffset></DiskPartion></DiskPartions></Disk></Disks></"
            "system>"));
}

void TestFixtureProbe::failingQueryReplacesText_data()
{
    QTest::addColumn<Probe>("probe");
    QTest::addColumn<QString>("failingClass");
    QTest::addColumn<QString>("failure");
    QTest::addRow("process") << Probe(query_process) << "Win32_Process"
                             << "Query for process failed.";
    QTest::addRow("services") << Probe(query_os_services) << "Win32_Service"
                              << "Query for services failed.";
    QTest::addRow("users") << Probe(query_users) << "Win32_UserAccount"
                           << "Query for users failed.";
    QTest::addRow("updates") << Probe(query_updates) << "Win32_QuickFixEngineering"
                             << "Query for updates failed.";
    QTest::addRow("printers") << Probe(query_printers) << "Win32_Printer"
                              << "Query for printers failed.";
    QTest::addRow("start-up") << Probe(query_startUp_applications) << "Win32_StartupCommand"
                              << "Query for Start-up applications failed.";
    QTest::addRow("shares") << Probe(query_shares) << "Win32_Share"
                            << "Query for shares failed.";
    QTest::addRow("environment") << Probe(query_environment_variables) << "Win32_Environment"
                                 << "Query for environment variables failed.";
    QTest::addRow("uptime") << Probe(query_uptime) << "Win32_OperatingSystem"
                            << "Query for uptime failed.";
    QTest::addRow("software") << Probe(query_WMI_software) << "Win32_Product"
                              << "Query for installed software failed.";
    QTest::addRow("adapters") << Probe(query_network_adapters) << "Win32_NetworkAdapter"
                              << "Query for network adapters failed.";
    QTest::addRow("adapter configuration")
        << Probe(query_network_adapters) << "Win32_NetworkAdapterConfiguration"
        << "Query for network adapter configuration info failed.";
    QTest::addRow("disks") << Probe(query_disks) << "Win32_DiskDrive"
                           << "Query for disks failed.";
    QTest::addRow("partitions") << Probe(query_disks) << "Win32_DiskPartition"
                                << "Query for disks partitions info failed.";
    QTest::addRow("hardware os") << Probe(query_hardware) << "Win32_OperatingSystem"
                                 << "Query for operating system failed.";
    QTest::addRow("hardware computer") << Probe(query_hardware) << "Win32_ComputerSystem"
                                       << "Query for computer system info failed.";
    QTest::addRow("hardware video") << Probe(query_hardware) << "Win32_VideoController"
                                    << "Query for video controller info failed.";
    QTest::addRow("hardware processor") << Probe(query_hardware) << "Win32_Processor"
                                        << "Query for processor info failed.";
    QTest::addRow("hardware memory arrays") << Probe(query_hardware) << "Win32_PhysicalMemoryArray"
                                            << "Query for count of memory devices failed.";
    QTest::addRow("hardware modules") << Probe(query_hardware) << "Win32_PhysicalMemory"
                                      << "Query for memory info failed.";
    QTest::addRow("hardware drives") << Probe(query_hardware) << "Win32_LogicalDisk"
                                     << "Query for drives info failed.";
    QTest::addRow("cpu") << Probe([](QString &t) { return monitor_cpu(t, false); })
                         << "Win32_PerfFormattedData_PerfOS_Processor"
                         << "Query for cpu performance failed.";
    QTest::addRow("memory devices")
        << Probe([](QString &t) { return monitor_memory(t, false); }) << "Win32_PhysicalMemory"
        << "Query for memory devices failed.";
    QTest::addRow("memory counters") << Probe([](QString &t) { return monitor_memory(t, true); })
                                     << "Win32_PerfFormattedData_PerfOS_Memory"
                                     << "Query for memory performance failed.";
    QTest::addRow("os objects") << Probe(monitor_os_objects)
                                << "Win32_PerfFormattedData_PerfOS_Objects"
                                << "Query for os objects performance failed.";
    QTest::addRow("disk") << Probe([](QString &t) { return monitor_disk(t, true); })
                          << "Win32_PerfFormattedData_PerfDisk_LogicalDisk"
                          << "Query for logical disk performance failed.";
    QTest::addRow("enabled adapters") << Probe(monitor_network) << "Win32_NetworkAdapter"
                                      << "Query for enabled network adapters failed.";
    QTest::addRow("battery") << Probe(monitor_battery) << "Win32_Battery"
                             << "Query for battery info failed.";
}

void TestFixtureProbe::failingQueryReplacesText()
{
    QFETCH(Probe, probe);
    QFETCH(QString, failingClass);
    QFETCH(QString, failure);
    useMachine(QJsonObject(),
               QJsonObject{{QStringLiteral("failQueries"), QJsonArray{failingClass}}});
    QString text = QStringLiteral("<document><earlier>section</earlier>");
    QCOMPARE(probe(text), 1);
    QCOMPARE(text, failure);
}

void TestFixtureProbe::connectionStages_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<QString>("failure");
    QTest::addRow("initialize") << "initialize"
                                << "Failed to initialize COM library";
    QTest::addRow("locator") << "locator"
                             << "Failed to create IWbemLocator object.";
    QTest::addRow("connect") << "connect"
                             << "Could not connect.";
    QTest::addRow("security") << "security"
                              << "Could not set proxy blanket";
}

void TestFixtureProbe::connectionStages()
{
    QFETCH(QString, stage);
    QFETCH(QString, failure);
    useMachine(QJsonObject(), QJsonObject{{QStringLiteral("failConnection"), stage}});
    const Probe probes[] = {query_process,
                            query_os_services,
                            query_users,
                            query_updates,
                            query_printers,
                            query_startUp_applications,
                            query_shares,
                            query_environment_variables,
                            query_uptime,
                            query_WMI_software,
                            query_network_adapters,
                            query_disks,
                            query_hardware,
                            monitor_os_objects,
                            monitor_network,
                            monitor_battery,
                            [](QString &t) { return monitor_cpu(t, true); },
                            [](QString &t) { return monitor_memory(t, true); },
                            [](QString &t) { return monitor_disk(t, false); }};
    for (Probe probe : probes) {
        QString text = QStringLiteral("earlier");
        QCOMPARE(probe(text), 1);
        QCOMPARE(text, failure);
    }
}

void TestFixtureProbe::processList()
{
    QStringList list{QStringLiteral("kept")};
    QCOMPARE(query_process_list(list), 0);
    QCOMPARE(list, QStringList({QStringLiteral("kept"), QStringLiteral("System Idle Process"),
                                QStringLiteral("a&amp;b")}));

    for (const QJsonObject &failing :
         {QJsonObject{{QStringLiteral("failConnection"), QStringLiteral("connect")}},
          QJsonObject{
              {QStringLiteral("failQueries"), QJsonArray{QStringLiteral("Win32_Process")}}}}) {
        useMachine(QJsonObject(), failing);
        QStringList unchanged{QStringLiteral("kept")};
        QCOMPARE(query_process_list(unchanged), 1);
        QCOMPARE(unchanged, QStringList{QStringLiteral("kept")});
    }
}

void TestFixtureProbe::cpu()
{
    QString bare;
    QCOMPARE(monitor_cpu(bare, true), 0);
    QCOMPARE(bare, QStringLiteral("7"));
    QString text;
    QCOMPARE(monitor_cpu(text, false), 0);
    QCOMPARE(text, QStringLiteral("<Monitor_CPU><cpu><Name>0</Name><Usage>12</Usage></cpu>"
                                  "<cpu><Name>1</Name><Usage>2</Usage></cpu>"
                                  "<cpu><Name>_Total</Name><Usage>7</Usage></cpu></Monitor_CPU>"));
}

void TestFixtureProbe::diskUsage()
{
    QString bare;
    QCOMPARE(monitor_disk(bare, true), 0);
    QCOMPARE(bare, QStringLiteral("65"));
    QString text;
    QCOMPARE(monitor_disk(text, false), 0);
    const QString disk =
        QStringLiteral("<FreeSpace>163.00</FreeSpace><PercentFreeSpace>35</PercentFreeSpace>"
                       "<PercentUsageSpace>65</PercentUsageSpace></disk>");
    QCOMPARE(text, QStringLiteral("<Monitor_Disk><disk><Name>C:</Name>") + disk +
                       QStringLiteral("<disk><Name>_Total</Name>") + disk +
                       QStringLiteral("</Monitor_Disk>"));
}

void TestFixtureProbe::memoryUsage_data()
{
    QTest::addColumn<QString>("modules");
    QTest::addColumn<QString>("available");
    QTest::addColumn<QString>("usage");
    QTest::addRow("two 4096 MiB modules, 2048 available")
        << R"([{"Capacity": {"int64": "4294967296"}}, {"Capacity": {"int64": "4294967296"}}])"
        << "2048"
        << "75";
    // Modules without capacity: 8388608 KiB of visible memory is 8192 MiB.
    QTest::addRow("no capacity: visible memory") << R"([{"DeviceLocator": "X"}])"
                                                 << "6144"
                                                 << "25";
    QTest::addRow("six-digit form") << R"([{"Capacity": {"int64": "3221225472"}}])"
                                    << "1000"
                                    << "67.4479";
}

void TestFixtureProbe::memoryUsage()
{
    QFETCH(QString, modules);
    QFETCH(QString, available);
    QFETCH(QString, usage);
    useMachine(QJsonObject{
        {QStringLiteral("Win32_PhysicalMemory"), QJsonDocument::fromJson(modules.toUtf8()).array()},
        {QStringLiteral("Win32_PerfFormattedData_PerfOS_Memory"),
         QJsonArray{QJsonObject{{QStringLiteral("AvailableMBytes"),
                                 QJsonObject{{QStringLiteral("int64"), available}}}}}}});
    QString bare;
    QCOMPARE(monitor_memory(bare, true), 0);
    QCOMPARE(bare, usage);
    QString text;
    QCOMPARE(monitor_memory(text, false), 0);
    QCOMPARE(text, QStringLiteral("<Monitor_Memory><memory><AvailableMBytes>%1</AvailableMBytes>"
                                  "<UsagePercentage>%2</UsagePercentage></memory></Monitor_Memory>")
                       .arg(available, usage));
}

void TestFixtureProbe::osObjects()
{
    QString text;
    QCOMPARE(monitor_os_objects(text), 0);
    QCOMPARE(text, QStringLiteral("<Monitor_OS_Objects><os_objects><Processes>74</Processes>"
                                  "<Threads>1032</Threads></os_objects></Monitor_OS_Objects>"));
}

void TestFixtureProbe::network_data()
{
    QTest::addColumn<QString>("classes");
    QTest::addColumn<QString>("expected");
    const QString group =
        QStringLiteral("<PacketsPerSec>3</PacketsPerSec><CurrentBandwidth>800</CurrentBandwidth>"
                       "<BytesTotalPerSec>10</BytesTotalPerSec><BytesSentPerSec>4</BytesSentPerSec>"
                       "<BytesReceivedPerSec>3</BytesReceivedPerSec><Utilization>10</Utilization>");
    QTest::addRow("bracketed name found through the pattern")
        << QString()
        << QStringLiteral(
               "<Monitor_Network><adapter><Name>Intel(R) PRO/1000 MT Network Connection</Name>") +
               group + QStringLiteral("</adapter></Monitor_Network>");
    QTest::addRow("two counter sets of one model")
        << QStringLiteral(R"({"Win32_PerfFormattedData_Tcpip_NetworkInterface": [
            {"Name": "Intel[R] PRO_1000 MT Network Connection", "PacketsPerSec": {"int64": "3"},
             "CurrentBandwidth": {"int64": "800"}, "BytesTotalPerSec": {"int64": "10"},
             "BytesSentPerSec": {"int64": "4"}, "BytesReceivedPerSec": {"int64": "3145728"}},
            {"Name": "Intel[R] PRO_1000 MT Network Connection _2", "PacketsPerSec": {"int64": "3"},
             "CurrentBandwidth": {"int64": "800"}, "BytesTotalPerSec": {"int64": "10"},
             "BytesSentPerSec": {"int64": "4"}, "BytesReceivedPerSec": {"int64": "3145728"}}]})")
        << QStringLiteral(
               "<Monitor_Network><adapter><Name>Intel(R) PRO/1000 MT Network Connection</Name>") +
               group + group + QStringLiteral("</adapter></Monitor_Network>");
    QTest::addRow("no matching counter set: name only")
        << QStringLiteral(
               R"({"Win32_NetworkAdapter": [{"Index": 1, "Name": "eth0", "NetConnectionStatus": 9}]})")
        << QStringLiteral(
               "<Monitor_Network><adapter><Name>eth0</Name></adapter></Monitor_Network>");
    QTest::addRow("no connected adapter")
        << QStringLiteral(
               R"({"Win32_NetworkAdapter": [{"Index": 1, "Name": "eth0", "NetConnectionStatus": 7}]})")
        << QStringLiteral("<Monitor_Network></Monitor_Network>");
    // 10 Gbit/s does not fit 32 bits; cutting it would misstate the load.
    QTest::addRow("ten gigabit link")
        << QStringLiteral(
               R"({"Win32_NetworkAdapter": [{"Index": 1, "Name": "ens1f0", "NetConnectionStatus": 2}],
            "Win32_PerfFormattedData_Tcpip_NetworkInterface": [
            {"Name": "ens1f0", "PacketsPerSec": {"int64": "0"}, "CurrentBandwidth": {"int64": "10000000000"},
             "BytesTotalPerSec": {"int64": "12500000"}, "BytesSentPerSec": {"int64": "0"},
             "BytesReceivedPerSec": {"int64": "12500000"}}]})")
        << QStringLiteral(
               "<Monitor_Network><adapter><Name>ens1f0</Name><PacketsPerSec>0</PacketsPerSec>"
               "<CurrentBandwidth>10000000000</CurrentBandwidth><BytesTotalPerSec>12500000</"
               "BytesTotalPerSec>"
               "<BytesSentPerSec>0</BytesSentPerSec><BytesReceivedPerSec>11</BytesReceivedPerSec>"
               "<Utilization>1</Utilization></adapter></Monitor_Network>");
    QTest::addRow("no bandwidth")
        << QStringLiteral(
               R"({"Win32_NetworkAdapter": [{"Index": 1, "Name": "lo", "NetConnectionStatus": 2}],
            "Win32_PerfFormattedData_Tcpip_NetworkInterface": [
            {"Name": "lo", "PacketsPerSec": {"int64": "2"}, "CurrentBandwidth": {"int64": "0"},
             "BytesTotalPerSec": {"int64": "100"}, "BytesSentPerSec": {"int64": "50"},
             "BytesReceivedPerSec": {"int64": "50"}}]})")
        << QStringLiteral(
               "<Monitor_Network><adapter><Name>lo</Name><PacketsPerSec>2</PacketsPerSec>"
               "<CurrentBandwidth>0</CurrentBandwidth><BytesTotalPerSec>100</BytesTotalPerSec>"
               "<BytesSentPerSec>50</BytesSentPerSec><BytesReceivedPerSec>0</BytesReceivedPerSec>"
               "<Utilization>0</Utilization></adapter></Monitor_Network>");
}

void TestFixtureProbe::network()
{
    QFETCH(QString, classes);
    QFETCH(QString, expected);
    useMachine(QJsonDocument::fromJson(classes.toUtf8()).object());
    QString text;
    QCOMPARE(monitor_network(text), 0);
    QCOMPARE(text, expected);
}

void TestFixtureProbe::networkCounterQueryFails()
{
    useMachine(QJsonObject(),
               QJsonObject{
                   {QStringLiteral("failQueries"),
                    QJsonArray{QStringLiteral("Win32_PerfFormattedData_Tcpip_NetworkInterface")}}});
    QString text = QStringLiteral("earlier");
    QCOMPARE(monitor_network(text), 1);
    QCOMPARE(text, QStringLiteral("Query for network adapter Intel(R) PRO/1000 MT Network "
                                  "Connection perfomance failed."));
}

void TestFixtureProbe::battery()
{
    useMachine(parse(R"({"Win32_Battery": [
        {"Name": "DELL 1C75X", "DeviceID": "BAT0", "EstimatedChargeRemaining": 87, "BatteryStatus": 2},
        {"Name": "Spare", "DeviceID": "BAT1", "EstimatedChargeRemaining": null, "BatteryStatus": 42}]})"));
    QString text;
    QCOMPARE(monitor_battery(text), 0);
    QCOMPARE(text,
             QStringLiteral("<Batteries><Battery><Name>DELL 1C75X</Name><DeviceID>BAT0</DeviceID>"
                            "<EstimatedChargeRemaining>87</"
                            "EstimatedChargeRemaining><BatteryStatus>The system has access to AC "
                            "so no battery is being discharged. However, the battery is not "
                            "necessarily charging.</BatteryStatus>"
                            "</Battery><Battery><Name>Spare</Name><DeviceID>BAT1</"
                            "DeviceID><EstimatedChargeRemaining></EstimatedChargeRemaining>"
                            "<BatteryStatus>42</BatteryStatus></Battery></Batteries>"));
}

QTEST_GUILESS_MAIN(TestFixtureProbe)
#include "tst_fixtureprobe.moc"
