// Pure pieces of the probe library: value forms, translation tables, the query subset,
// and the parsers of the Linux backend over small texts.
#include "linuxnetworkclasses.h"
#include "linuxperformanceclasses.h"
#include "linuxsoftwareclasses.h"
#include "linuxstorageclasses.h"
#include "linuxsystemclasses.h"
#include "networkcounterpattern.h"
#include "propertyvalue.h"
#include "smbiostable.h"
#include "translationtables.h"
#include "valueforms.h"
#include "wqlquery.h"

#include <QtTest>

Q_DECLARE_METATYPE(PropertyValue)

class TestProbeHelpers : public QObject
{
    Q_OBJECT
private slots:
    void escaping_data();
    void escaping();
    void variantTexts_data();
    void variantTexts();
    void numberForms_data();
    void numberForms();
    void translationFallbacks_data();
    void translationFallbacks();
    void queryShapes_data();
    void queryShapes();
    void queryFilters();
    void counterPattern_data();
    void counterPattern();

    void smbiosMemory();
    void smbiosTruncatedTable();
    void cpuLoadFromStat();
    void gateways();
    void mounts();
    void dpkgLogUpdates();
    void desktopEntry();
    void managementDateTime();
};

void TestProbeHelpers::escaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::addRow("all four") << "AT&T <Lab> 100%"
                              << "AT&amp;T &lt;Lab&gt; 100\"%\"";
    QTest::addRow("ampersand first, entities not doubled") << "&lt;"
                                                           << "&amp;lt;";
    QTest::addRow("quotes stay") << "it's \"x\""
                                 << "it's \"x\"";
    QTest::addRow("empty") << ""
                           << "";
}

void TestProbeHelpers::escaping()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(escapeText(text), escaped);
}

void TestProbeHelpers::variantTexts_data()
{
    QTest::addColumn<PropertyValue>("value");
    QTest::addColumn<QString>("text");
    QTest::addRow("int32 -1 unsigned") << PropertyValue::int32(-1) << "4294967295";
    QTest::addRow("int32 74") << PropertyValue::int32(74) << "74";
    QTest::addRow("int64 as delivered")
        << PropertyValue::int64(QStringLiteral("18446744073709551615")) << "18446744073709551615";
    QTest::addRow("true") << PropertyValue::boolean(true) << "65535";
    QTest::addRow("false") << PropertyValue::boolean(false) << "0";
    QTest::addRow("date-time") << PropertyValue::dateTime(
                                      QStringLiteral("20240315081502.500000+060"))
                               << "20240315081502.500000+060";
    QTest::addRow("list") << PropertyValue::textList(
                                 {QStringLiteral("10.0.0.5"), QStringLiteral("fe80::1")})
                          << "10.0.0.5 , fe80::1";
    QTest::addRow("list with empty first element")
        << PropertyValue::textList({QString(), QStringLiteral("a"), QStringLiteral("b")})
        << "a , b";
    QTest::addRow("empty list") << PropertyValue::textList({}) << "";
    QTest::addRow("none") << PropertyValue() << "";
}

void TestProbeHelpers::variantTexts()
{
    QFETCH(PropertyValue, value);
    QFETCH(QString, text);
    QCOMPARE(variantText(value), text);
}

void TestProbeHelpers::numberForms_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addRow("two decimals") << 0 << 500105736192.0 / 1073741824.0 << "465.76";
    QTest::addRow("two decimals of zero") << 0 << 0.0 << "0.00";
    QTest::addRow("integer truncates") << 1 << 2047.99 << "2047";
    QTest::addRow("six digits") << 2 << 43.21449 << "43.2145";
    QTest::addRow("six digits whole") << 2 << 100.0 << "100";
    QTest::addRow("six digits exponent") << 2 << 1.5e6 << "1.5e+06";
}

void TestProbeHelpers::numberForms()
{
    QFETCH(int, form);
    QFETCH(double, value);
    QFETCH(QString, text);
    const QString result = form == 0   ? twoDecimalForm(value)
                           : form == 1 ? integerForm(value)
                                       : sixDigitForm(value);
    QCOMPARE(result, text);
}

void TestProbeHelpers::translationFallbacks_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("text");
    QTest::addRow("architecture x64") << architectureText(9) << "x64";
    QTest::addRow("architecture decimal") << architectureText(5) << "5";
    QTest::addRow("form factor unknown") << formFactorText(9) << "Unknown";
    QTest::addRow("memory type 20") << memoryTypeText(20) << "DDR";
    QTest::addRow("memory type 21") << memoryTypeText(21) << "";
    QTest::addRow("memory type negative") << memoryTypeText(-1) << "";
    QTest::addRow("type detail 4096") << typeDetailText(4096) << "Non-volatile";
    QTest::addRow("type detail combined") << typeDetailText(128 + 8192) << "Unknown";
    QTest::addRow("accelerator 3") << acceleratorCapabilitiesText(3) << "Graphics Accelerator";
    QTest::addRow("accelerator decimal") << acceleratorCapabilitiesText(7) << "7";
    QTest::addRow("video architecture 0") << videoArchitectureText(0) << "0";
    QTest::addRow("video architecture 160") << videoArchitectureText(160) << "PC-98";
    QTest::addRow("video memory 13") << videoMemoryTypeText(13) << "SGRAM";
    QTest::addRow("battery 11") << batteryStatusText(11) << "Partially Charged";
    QTest::addRow("battery decimal") << batteryStatusText(0) << "0";
}

void TestProbeHelpers::translationFallbacks()
{
    QFETCH(QString, result);
    QFETCH(QString, text);
    QCOMPARE(result, text);
}

void TestProbeHelpers::queryShapes_data()
{
    QTest::addColumn<QString>("wql");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<int>("conditions");
    QTest::addRow("star") << "SELECT * FROM Win32_Process" << true << "Win32_Process"
                          << QStringList() << 0;
    QTest::addRow("one column") << "Select MemoryDevices FROM Win32_PhysicalMemoryArray" << true
                                << "Win32_PhysicalMemoryArray" << QStringList{"MemoryDevices"} << 0;
    QTest::addRow("column list")
        << "Select Capacity,DeviceLocator,FormFactor,MemoryType,TypeDetail,Speed FROM "
           "Win32_PhysicalMemory"
        << true << "Win32_PhysicalMemory"
        << QStringList{"Capacity",   "DeviceLocator", "FormFactor",
                       "MemoryType", "TypeDetail",    "Speed"}
        << 0;
    QTest::addRow("index") << "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index=7"
                           << true << "Win32_NetworkAdapterConfiguration" << QStringList() << 1;
    QTest::addRow("quoted name")
        << "SELECT * FROM Win32_PerfFormattedData_PerfOS_Processor where Name = '_Total'" << true
        << "Win32_PerfFormattedData_PerfOS_Processor" << QStringList() << 1;
    QTest::addRow("or")
        << "SELECT * FROM Win32_NetworkAdapter WHERE NetConnectionStatus=2 or NetConnectionStatus=9"
        << true << "Win32_NetworkAdapter" << QStringList() << 2;
    QTest::addRow("like")
        << "SELECT * FROM Win32_PerfFormattedData_Tcpip_NetworkInterface WHERE Name LIKE '%eth0%'"
        << true << "Win32_PerfFormattedData_Tcpip_NetworkInterface" << QStringList() << 1;
    QTest::addRow("no class") << "SELECT * FROM" << false << "" << QStringList() << 0;
    QTest::addRow("and is not understood")
        << "SELECT * FROM X WHERE A=1 AND B=2" << false << "" << QStringList() << 0;
    QTest::addRow("unterminated string")
        << "SELECT * FROM X WHERE Name = 'a" << false << "" << QStringList() << 0;
    QTest::addRow("like needs a string")
        << "SELECT * FROM X WHERE Name LIKE 5" << false << "" << QStringList() << 0;
}

void TestProbeHelpers::queryShapes()
{
    QFETCH(QString, wql);
    QFETCH(bool, ok);
    WqlQuery query;
    QCOMPARE(query.parse(wql), ok);
    if (!ok)
        return;
    QFETCH(QString, className);
    QFETCH(QStringList, columns);
    QFETCH(int, conditions);
    QCOMPARE(query.className, className);
    QCOMPARE(query.columns, columns);
    QCOMPARE(query.conditions.size(), conditions);
}

void TestProbeHelpers::queryFilters()
{
    ManagementObject adapter;
    adapter.set(QStringLiteral("Name"),
                PropertyValue::text(QStringLiteral("Intel[R] PRO_1000 MT Network Connection")));
    adapter.set(QStringLiteral("NetConnectionStatus"), PropertyValue::int32(9));
    adapter.set(QStringLiteral("Speed"), PropertyValue::int32(100));

    WqlQuery query;
    QVERIFY(query.parse(
        QStringLiteral("SELECT * FROM A WHERE NetConnectionStatus=2 or NetConnectionStatus=9")));
    QVERIFY(query.matches(adapter));
    QVERIFY(query.parse(QStringLiteral("SELECT * FROM A WHERE NetConnectionStatus=2")));
    QVERIFY(!query.matches(adapter));
    QVERIFY(query.parse(QStringLiteral(
        "SELECT * FROM A WHERE Name LIKE '%intel% pro_1000 MT Network Connection%'")));
    QVERIFY(query.matches(adapter));
    QVERIFY(query.parse(QStringLiteral("SELECT * FROM A WHERE Name = '_Total'")));
    QVERIFY(!query.matches(adapter));
    QVERIFY(query.parse(QStringLiteral("SELECT * FROM A WHERE Missing=0")));
    QVERIFY(!query.matches(adapter));

    QVERIFY(query.parse(QStringLiteral("Select Name,Speed FROM A")));
    ManagementObject projected = adapter;
    query.project(projected);
    QVERIFY(projected.has(QStringLiteral("name")));
    QVERIFY(!projected.has(QStringLiteral("NetConnectionStatus")));

    QVERIFY(WqlQuery::likeMatches(QStringLiteral("eth0"), QStringLiteral("%eth0%")));
    QVERIFY(WqlQuery::likeMatches(QStringLiteral("abc"), QStringLiteral("a_c")));
    QVERIFY(!WqlQuery::likeMatches(QStringLiteral("abc"), QStringLiteral("a_")));
    QVERIFY(WqlQuery::likeMatches(QStringLiteral("aXbXc"), QStringLiteral("a%b%c")));
    QVERIFY(!WqlQuery::likeMatches(QStringLiteral("eth1"), QStringLiteral("%eth0%")));
}

void TestProbeHelpers::counterPattern_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addRow("bracketed") << "Intel(R) PRO/1000 MT Network Connection"
                               << "Intel% PRO_1000 MT Network Connection";
    QTest::addRow("two brackets") << "Realtek(R) PCIe GbE Family Controller (2)"
                                  << "Realtek%";
    QTest::addRow("plain") << "eth0"
                           << "eth0";
    QTest::addRow("slash only") << "TAP/Win32 Adapter"
                                << "TAP_Win32 Adapter";
}

void TestProbeHelpers::counterPattern()
{
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QCOMPARE(networkCounterPattern(name), pattern);
}

static QByteArray structure(quint8 type, QByteArray formatted, const QList<QByteArray> &strings)
{
    QByteArray s;
    s.append(char(type));
    s.append(char(formatted.size() + 4));
    s.append("\x01\x00", 2);
    s.append(formatted);
    for (const QByteArray &text : strings)
        s.append(text).append('\0');
    if (strings.isEmpty())
        s.append('\0');
    s.append('\0');
    return s;
}

static QByteArray memoryDevice(quint16 size, quint8 formFactor, quint8 type, quint16 detail,
                               quint16 speed, quint32 extended = 0)
{
    QByteArray f(0x20 - 4, '\0');
    auto put16 = [&](int offset, quint16 v) {
        f[offset - 4] = char(v & 0xFF);
        f[offset - 3] = char(v >> 8);
    };
    put16(0x0C, size);
    f[0x0E - 4] = char(formFactor);
    f[0x10 - 4] = 1; // device locator: string 1
    f[0x12 - 4] = char(type);
    put16(0x13, detail);
    put16(0x15, speed);
    for (int i = 0; i < 4; ++i)
        f[0x1C - 4 + i] = char((extended >> (8 * i)) & 0xFF);
    return f;
}

void TestProbeHelpers::smbiosMemory()
{
    QByteArray array(0x0F - 4, '\0');
    array[0x05 - 4] = 3; // system memory
    array[0x0D - 4] = 4;
    QByteArray other(0x0F - 4, '\0');
    other[0x05 - 4] = 4; // video memory: not listed
    const QByteArray table =
        structure(0, QByteArray(20, '\x01'), {"BIOS vendor"}) + structure(16, array, {}) +
        structure(16, other, {}) +
        structure(17, memoryDevice(8192, 0x09, 0x1A, 0x80, 2400), {"DIMM 0"}) +
        structure(17, memoryDevice(0, 0x09, 0x1A, 0x80, 0), {"DIMM 1"}) +
        structure(17, memoryDevice(0x7FFF, 0x0D, 0x22, 0x4080, 4800, 65536), {"SODIMM"}) +
        structure(17, memoryDevice(0x8000 | 512, 0x03, 0x07, 0, 0), {"CHIP"}) +
        structure(127, QByteArray(), {});
    QVector<SmbiosTable::MemoryArray> arrays;
    QVector<SmbiosTable::MemoryModule> modules;
    SmbiosTable::parse(table, arrays, modules);
    QCOMPARE(arrays.size(), 1);
    QCOMPARE(arrays.at(0).memoryDevices, 4);
    QCOMPARE(modules.size(), 3); // the empty slot is no module
    QCOMPARE(modules.at(0).capacityBytes, quint64(8192) << 20);
    QCOMPARE(modules.at(0).deviceLocator, QStringLiteral("DIMM 0"));
    QCOMPARE(modules.at(0).formFactor, 8);
    QCOMPARE(modules.at(0).memoryType, 26);
    QCOMPARE(modules.at(0).typeDetail, 128);
    QCOMPARE(modules.at(0).speed, 2400);
    QCOMPARE(modules.at(1).capacityBytes, quint64(65536) << 20);
    QCOMPARE(modules.at(1).formFactor, 12);
    QCOMPARE(modules.at(2).capacityBytes, quint64(512) << 10);
    QCOMPARE(modules.at(2).formFactor, 7);
}

void TestProbeHelpers::smbiosTruncatedTable()
{
    const QByteArray whole = structure(16, QByteArray(0x0F - 4, '\x03'), {}) +
                             structure(17, memoryDevice(1024, 9, 0x18, 0x80, 1600), {"DIMM"});
    for (int size = 0; size < whole.size(); ++size) {
        QVector<SmbiosTable::MemoryArray> arrays;
        QVector<SmbiosTable::MemoryModule> modules;
        SmbiosTable::parse(whole.left(size), arrays, modules);
        QVERIFY(modules.isEmpty() || size >= whole.size() - 6);
    }
}

void TestProbeHelpers::cpuLoadFromStat()
{
    const auto before = LinuxPerformanceClasses::parseStat(
        QStringLiteral("cpu  100 0 100 700 100 0 0 0 0 0\ncpu0 50 0 50 350 50 0 0 0 0 0\ncpu1 50 0 "
                       "50 350 50 0 0 0 0 0\n"
                       "intr 1 2 3\nctxt 99\n"));
    const auto after = LinuxPerformanceClasses::parseStat(
        QStringLiteral("cpu  150 0 150 800 100 0 0 0 0 0\ncpu0 100 0 100 350 50 0 0 0 0 0\ncpu1 50 "
                       "0 50 450 50 0 0 0 0 0\n"));
    QCOMPARE(before.size(), 3);
    QVERIFY(after.contains(QStringLiteral("_Total")));
    QCOMPARE(LinuxPerformanceClasses::busyPercent(before.value(QStringLiteral("_Total")),
                                                  after.value(QStringLiteral("_Total"))),
             qint64(50));
    QCOMPARE(LinuxPerformanceClasses::busyPercent(before.value(QStringLiteral("0")),
                                                  after.value(QStringLiteral("0"))),
             qint64(100));
    QCOMPARE(LinuxPerformanceClasses::busyPercent(before.value(QStringLiteral("1")),
                                                  after.value(QStringLiteral("1"))),
             qint64(0));
    // No time passed: no load, never a division by zero.
    QCOMPARE(LinuxPerformanceClasses::busyPercent(after.value(QStringLiteral("1")),
                                                  after.value(QStringLiteral("1"))),
             qint64(0));
}

void TestProbeHelpers::gateways()
{
    const auto v4 = LinuxNetworkClasses::parseIpv4Gateways(QStringLiteral(
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"));
    QCOMPARE(v4.value(QStringLiteral("eth0")), QStringList{QStringLiteral("192.0.2.1")});
    const auto v6 = LinuxNetworkClasses::parseIpv6Gateways(QStringLiteral(
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n"
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n"));
    QCOMPARE(v6.value(QStringLiteral("eth0")), QStringList{QStringLiteral("fd00::1")});
    QVERIFY(!v6.contains(QStringLiteral("lo")));
    QCOMPARE(LinuxNetworkClasses::connectionStatus(QStringLiteral("up"), true), 2);
    QCOMPARE(LinuxNetworkClasses::connectionStatus(QStringLiteral("down"), false), 7);
}

void TestProbeHelpers::mounts()
{
    const auto mounts = LinuxStorageClasses::parseMounts(
        QStringLiteral("proc /proc proc rw 0 0\n"
                       "/dev/vda1 / ext4 rw 0 0\n"
                       "/dev/vda1 /srv/bind ext4 rw 0 0\n"
                       "/dev/loop0 /snap/core squashfs ro 0 0\n"
                       "/dev/sdb1 /media/USB\\040Stick vfat rw 0 0\n"
                       "tmpfs /run tmpfs rw 0 0\n"
                       "files:/export /mnt/files nfs4 rw 0 0\n"));
    QCOMPARE(mounts.size(), 3);
    QCOMPARE(mounts.at(0).mountPoint, QStringLiteral("/"));
    QCOMPARE(mounts.at(1).mountPoint, QStringLiteral("/media/USB Stick"));
    QCOMPARE(mounts.at(1).type, QStringLiteral("vfat"));
    QCOMPARE(mounts.at(2).device, QStringLiteral("files:/export"));
}

void TestProbeHelpers::dpkgLogUpdates()
{
    QString newest;
    const auto updates = LinuxSoftwareClasses::updateObjects(DpkgLog::parse(
        "2025-06-24 14:36:25 startup archives unpack\n"
        "2025-06-24 14:36:25 upgrade libudev1:amd64 252.36-1~deb12u1 252.38-1~deb12u1\n"
        "2025-06-24 14:36:26 status installed libudev1:amd64 252.38-1~deb12u1\n"
        "2025-06-24 14:36:27 install newpkg:all <none> 1.0\n"
        "garbage upgrade x y z\n",
        &newest));
    QCOMPARE(newest, QStringLiteral("2025-06-24 14:36:27"));
    QCOMPARE(updates.size(), 1);
    QCOMPARE(variantText(updates.at(0).get(QStringLiteral("Name"))), QStringLiteral("libudev1"));
    QCOMPARE(variantText(updates.at(0).get(QStringLiteral("HotFixID"))),
             QStringLiteral("libudev1=252.38-1~deb12u1"));
    QCOMPARE(variantText(updates.at(0).get(QStringLiteral("InstalledOn"))),
             QStringLiteral("2025-06-24 14:36:25"));
}

void TestProbeHelpers::desktopEntry()
{
    const auto keys = LinuxSoftwareClasses::parseDesktopEntry(QStringLiteral(
        "# comment\n[Desktop Entry]\nName=Agent\nName[de]=Agent DE\nExec=/opt/agent --tray\n"
        "[Desktop Action Quit]\nExec=/opt/agent --quit\n"));
    QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Agent"));
    QCOMPARE(keys.value(QStringLiteral("Exec")), QStringLiteral("/opt/agent --tray"));
    QVERIFY(!keys.contains(QStringLiteral("Name[de]")));
}

void TestProbeHelpers::managementDateTime()
{
    const QDateTime time(QDate(2024, 3, 15), QTime(8, 15, 2), Qt::OffsetFromUTC, 3600);
    QCOMPARE(LinuxSystemClasses::managementDateTime(time),
             QStringLiteral("20240315081502.000000+060"));
    const QDateTime west(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::OffsetFromUTC, -5 * 3600);
    const QString text = LinuxSystemClasses::managementDateTime(west);
    QCOMPARE(text, QStringLiteral("20240102030405.000000-300"));
    QCOMPARE(text.size(), 25);
}

QTEST_GUILESS_MAIN(TestProbeHelpers)
#include "tst_probehelpers.moc"
