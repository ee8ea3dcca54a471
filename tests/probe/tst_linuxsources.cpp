// The Linux backend's readings over fixture files: disk space from file system figures, the
// update history across rotated package logs, device makers from a sysfs tree, and install
// locations from package file lists.
#include "devicevendor.h"
#include "dpkgdatabase.h"
#include "dpkglog.h"
#include "linuxregistry.h"
#include "linuxsoftwareclasses.h"
#include "linuxstorageclasses.h"
#include "valueforms.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <zlib.h>

class TestLinuxSources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void diskSpace_data();
    void diskSpace();
    void rotatedLogFiles_data();
    void rotatedLogFiles();
    void updateHistory();
    void damagedCompressedLog();
    void deviceVendor_data();
    void deviceVendor();
    void installLocation_data();
    void installLocation();
    void installLocationInSoftwareList();
    void packagesReadAgainAfterChange();

private:
    QTemporaryDir sysfs;
    QTemporaryDir dpkg;
};

static bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

static bool writeGzip(const QString &path, const QByteArray &content)
{
    gzFile file = ::gzopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    const bool written =
        ::gzwrite(file, content.constData(), unsigned(content.size())) == content.size();
    return ::gzclose(file) == Z_OK && written;
}

// A device directory with its attribute files; "subsystem" becomes a link, as in sysfs.
static bool addDevice(const QString &root, const QString &path,
                      const QHash<QString, QByteArray> &attributes)
{
    const QString dir = root + QLatin1String("/devices/") + path;
    if (!writeFile(dir + QLatin1String("/uevent"), QByteArray()))
        return false;
    for (auto it = attributes.constBegin(); it != attributes.constEnd(); ++it) {
        if (it.key() == QLatin1String("subsystem")) {
            const QString bus = root + QLatin1String("/bus/") + QString::fromLatin1(it.value());
            if (!QDir().mkpath(bus) || !QFile::link(bus, dir + QLatin1String("/subsystem")))
                return false;
        } else if (!writeFile(dir + QLatin1Char('/') + it.key(), it.value() + '\n')) {
            return false;
        }
    }
    return true;
}

void TestLinuxSources::initTestCase()
{
    QVERIFY(sysfs.isValid() && dpkg.isValid());
    const QString root = sysfs.path();
    const QString pci = QStringLiteral("pci0000:00/");
    // A virtio network card and a virtio disk: the maker's id sits on the virtio device and on
    // the PCI function above it.
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:03.0"),
                  {{QStringLiteral("subsystem"), "pci"}, {QStringLiteral("vendor"), "0x1af4"}}));
    QVERIFY(addDevice(root, pci + QLatin1String("0000:00:03.0/virtio2"),
                      {{QStringLiteral("subsystem"), "virtio"},
                       {QStringLiteral("vendor"), "0x1af4"},
                       {QStringLiteral("device"), "0x0001"}}));
    // An NVMe drive: the controller function below the PCI device names no maker itself.
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:04.0"),
                  {{QStringLiteral("subsystem"), "pci"}, {QStringLiteral("vendor"), "0x144d"}}));
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:04.0/nvme/nvme0"),
                  {{QStringLiteral("subsystem"), "nvme"}, {QStringLiteral("model"), "SSD 980"}}));
    // A USB network adapter: the interface lies below the device that names its maker.
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:14.0"),
                  {{QStringLiteral("subsystem"), "pci"}, {QStringLiteral("vendor"), "0x8086"}}));
    QVERIFY(addDevice(root, pci + QLatin1String("0000:00:14.0/usb1/1-1"),
                      {{QStringLiteral("subsystem"), "usb"},
                       {QStringLiteral("idVendor"), "0bda"},
                       {QStringLiteral("manufacturer"), "Realtek"},
                       {QStringLiteral("dev"), "189:1"}}));
    QVERIFY(addDevice(root, pci + QLatin1String("0000:00:14.0/usb1/1-1/1-1:1.0"),
                      {{QStringLiteral("subsystem"), "usb"}}));
    // SCSI disks behind an Intel controller: one names its vendor, one leaves it blank.
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:05.0"),
                  {{QStringLiteral("subsystem"), "pci"}, {QStringLiteral("vendor"), "0x8086"}}));
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:05.0/host0/target0:0:0/0:0:0:0"),
                  {{QStringLiteral("subsystem"), "scsi"}, {QStringLiteral("vendor"), "QEMU    "}}));
    QVERIFY(
        addDevice(root, pci + QLatin1String("0000:00:05.0/host0/target0:0:1/0:0:1:0"),
                  {{QStringLiteral("subsystem"), "scsi"}, {QStringLiteral("vendor"), "        "}}));
    // The class entries link to their devices, as /sys/class/net/eth0/device does.
    QVERIFY(
        QFile::link(root + QLatin1String("/devices/") + pci + QLatin1String("0000:00:03.0/virtio2"),
                    root + QLatin1String("/eth0-device")));

    QVERIFY(writeFile(root + QLatin1String("/pci.ids"), "# vendors\n"
                                                        "144d  Samsung Electronics Co Ltd\n"
                                                        "\ta808  NVMe SSD Controller 980\n"
                                                        "1af4  Red Hat, Inc.\n"
                                                        "\t1000  Virtio network device\n"
                                                        "8086  Intel Corporation\n"));
    QVERIFY(writeFile(root + QLatin1String("/udev/+pci:0000:00:03.0"),
                      "I:1234\nE:ID_PCI_CLASS_FROM_DATABASE=Network controller\n"
                      "E:ID_VENDOR_FROM_DATABASE=Red Hat, Inc.\n"));
    QVERIFY(writeFile(root + QLatin1String("/udev/+pci:0000:00:04.0"),
                      "E:ID_VENDOR_FROM_DATABASE=Samsung Electronics Co Ltd\n"));

    // Packages and their file lists, as dpkg keeps them.
    const QString info = dpkg.filePath(QStringLiteral("info/"));
    QVERIFY(writeFile(dpkg.filePath(QStringLiteral("status")),
                      "Package: viewer\nStatus: install ok installed\nArchitecture: amd64\n"
                      "Version: 2.1\n\n"
                      "Package: viewer-plugins\nStatus: install ok installed\nArchitecture: amd64\n"
                      "Source: viewer (2.1)\nVersion: 2.1+b1\n\n"
                      "Package: libfoo1\nStatus: install ok installed\nArchitecture: amd64\n"
                      "Multi-Arch: same\nSource: foo\nVersion: 1.0\n\n"
                      "Package: libbar1\nStatus: install ok installed\nArchitecture: amd64\n"
                      "Source: bar\nVersion: 1.0\n\n"
                      "Package: tool\nStatus: install ok installed\nArchitecture: amd64\n"
                      "Version: 3\n\n"
                      "Package: split\nStatus: install ok installed\nArchitecture: all\n"
                      "Version: 1\n\n"
                      "Package: nolist\nStatus: install ok installed\nArchitecture: all\n"
                      "Version: 1\n\n"
                      "Package: removed\nStatus: deinstall ok config-files\nArchitecture: all\n"
                      "Version: 1\n"));
    QVERIFY(writeFile(info + QLatin1String("viewer.list"),
                      "/.\n/opt\n/opt/viewer\n/opt/viewer/bin\n/opt/viewer/bin/viewer\n"
                      "/opt/viewer/lib\n/opt/viewer/lib/libview.so\n/opt/viewer/plugins\n"
                      "/usr\n/usr/bin\n/usr/bin/viewer\n/usr/share\n/usr/share/applications\n"
                      "/usr/share/applications/viewer.desktop\n/usr/share/doc\n"
                      "/usr/share/doc/viewer\n/usr/share/doc/viewer/copyright\n/etc\n"
                      "/etc/viewer.conf\n"));
    QVERIFY(writeFile(info + QLatin1String("viewer-plugins.list"),
                      "/.\n/opt\n/opt/viewer\n/opt/viewer/plugins\n/opt/viewer/plugins/pdf.so\n"
                      "/usr/share/doc/viewer-plugins/copyright\n"));
    QVERIFY(
        writeFile(info + QLatin1String("libfoo1:amd64.list"),
                  "/.\n/usr\n/usr/lib\n/usr/lib/x86_64-linux-gnu\n"
                  "/usr/lib/x86_64-linux-gnu/foo\n/usr/lib/x86_64-linux-gnu/foo/module.so\n"
                  "/usr/lib/x86_64-linux-gnu/foo/data\n/usr/lib/x86_64-linux-gnu/foo/data/a\n"));
    QVERIFY(writeFile(info + QLatin1String("libbar1.list"),
                      "/.\n/usr\n/usr/lib\n/usr/lib/x86_64-linux-gnu\n"
                      "/usr/lib/x86_64-linux-gnu/libbar.so.1\n"));
    QVERIFY(writeFile(info + QLatin1String("tool.list"),
                      "/.\n/usr\n/usr/bin\n/usr/bin/tool\n/usr/share/man/man1/tool.1.gz\n"));
    QVERIFY(writeFile(info + QLatin1String("split.list"),
                      "/.\n/usr\n/usr/lib/split\n/usr/lib/split/engine\n/usr/share/split\n"
                      "/usr/share/split/data\n"));
}

void TestLinuxSources::diskSpace_data()
{
    QTest::addColumn<quint64>("blocks");
    QTest::addColumn<quint64>("freeBlocks");
    QTest::addColumn<quint64>("availableBlocks");
    QTest::addColumn<quint64>("blockSize");
    QTest::addColumn<quint64>("used");
    QTest::addColumn<int>("percentAvailable");

    // 100 minus the percentage is df's Use%; the reserve counts neither as used nor as free.
    QTest::addRow("no reserve") << quint64(1000) << quint64(800) << quint64(800) << quint64(4096)
                                << quint64(200 * 4096) << 80;
    QTest::addRow("five percent reserve, df use 74")
        << quint64(1000) << quint64(300) << quint64(250) << quint64(4096) << quint64(700 * 4096)
        << 26;
    QTest::addRow("large reserve, df use 19")
        << quint64(264212084) << quint64(245958064) << quint64(82083168) << quint64(1024)
        << quint64(18254020) * 1024 << 81;
    QTest::addRow("only the reserve left")
        << quint64(1000) << quint64(50) << quint64(0) << quint64(4096) << quint64(950 * 4096) << 0;
    QTest::addRow("exactly half") << quint64(1000) << quint64(500) << quint64(500) << quint64(512)
                                  << quint64(500 * 512) << 50;
    QTest::addRow("no blocks at all")
        << quint64(0) << quint64(0) << quint64(0) << quint64(4096) << quint64(0) << 100;
    QTest::addRow("beyond 2^64 / 100 bytes")
        << (quint64(1) << 40) << (quint64(1) << 39) << (quint64(1) << 39) << (quint64(1) << 20)
        << (quint64(1) << 59) << 50;
}

void TestLinuxSources::diskSpace()
{
    QFETCH(quint64, blocks);
    QFETCH(quint64, freeBlocks);
    QFETCH(quint64, availableBlocks);
    QFETCH(quint64, blockSize);
    QFETCH(quint64, used);
    QFETCH(int, percentAvailable);
    const LinuxStorageClasses::Space space =
        LinuxStorageClasses::spaceFromBlocks(blocks, freeBlocks, availableBlocks, blockSize);
    QCOMPARE(space.size, blocks * blockSize);
    QCOMPARE(space.used, used);
    QCOMPARE(space.available, availableBlocks * blockSize);
    QCOMPARE(LinuxStorageClasses::percentAvailable(space), percentAvailable);
}

void TestLinuxSources::rotatedLogFiles_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("expected");
    const QStringList delayed = {QStringLiteral("dpkg.log"), QStringLiteral("dpkg.log.1"),
                                 QStringLiteral("dpkg.log.2.gz"), QStringLiteral("dpkg.log.3.gz")};
    QTest::addRow("newest rotation left uncompressed") << delayed << delayed;
    const QStringList atOnce = {QStringLiteral("dpkg.log"), QStringLiteral("dpkg.log.1.gz"),
                                QStringLiteral("dpkg.log.2.gz")};
    QTest::addRow("every rotation compressed") << atOnce << atOnce;
    QTest::addRow("a gap ends the series")
        << QStringList{QStringLiteral("dpkg.log"), QStringLiteral("dpkg.log.1"),
                       QStringLiteral("dpkg.log.3.gz")}
        << QStringList{QStringLiteral("dpkg.log"), QStringLiteral("dpkg.log.1")};
    QTest::addRow("no current log yet")
        << QStringList{QStringLiteral("dpkg.log.1"), QStringLiteral("dpkg.log.2.gz")}
        << QStringList{QStringLiteral("dpkg.log.1"), QStringLiteral("dpkg.log.2.gz")};
}

void TestLinuxSources::rotatedLogFiles()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    for (const QString &name : present)
        QVERIFY(writeFile(dir.filePath(name), "x\n"));
    QStringList files = DpkgLog::logFiles(dir.filePath(QStringLiteral("dpkg.log")));
    for (QString &file : files)
        file = QFileInfo(file).fileName();
    QCOMPARE(files, expected);
}

void TestLinuxSources::updateHistory()
{
    // A year of monthly logs, cut short: the current one, last month's left uncompressed, and
    // two compressed older ones, the oldest from before the history's horizon.
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("dpkg.log")),
                      "2025-06-24 14:36:25 startup archives unpack\n"
                      "2025-06-24 14:36:25 upgrade libudev1:amd64 252.36-1 252.38-1\n"
                      "2025-06-24 14:36:26 status installed libudev1:amd64 252.38-1\n"
                      "2025-06-25 09:00:00 upgrade curl:amd64 7.88.1-10 7.88.1-10\n"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("dpkg.log.1")),
                      "2025-05-02 10:00:00 install newpkg:all <none> 1.0\n"
                      "2025-05-03 10:00:00 upgrade openssl:amd64 3.0.15-1 3.0.16-1\n"));
    QVERIFY(writeGzip(dir.filePath(QStringLiteral("dpkg.log.2.gz")),
                      "2025-04-01 08:00:00 upgrade curl:amd64 7.88.1-9 7.88.1-10\n"
                      "2025-04-01 08:00:01 upgrade libc6:amd64 2.36-9 2.36-9+deb12u10\n"
                      "2025-04-01 08:00:02 upgrade libc6:i386 2.36-9 2.36-9+deb12u10\n"));
    QVERIFY(writeGzip(dir.filePath(QStringLiteral("dpkg.log.3.gz")),
                      "2024-03-01 08:00:00 upgrade tzdata:all 2024a-0 2024a-1\n"));

    const auto history = DpkgLog::history(dir.filePath(QStringLiteral("dpkg.log")),
                                          QStringLiteral("2024-06-25 00:00:00"));
    QStringList seen;
    for (const DpkgLog::Upgrade &upgrade : history)
        seen.append(upgrade.time + QLatin1Char(' ') + upgrade.package + QLatin1Char('=') +
                    upgrade.newVersion);
    // Oldest first; curl's reinstallation of 7.88.1-10 is listed once, at its newest time,
    // and the two architectures of libc6 are separate upgrades.
    QCOMPARE(seen, (QStringList{
                       QStringLiteral("2025-04-01 08:00:01 libc6:amd64=2.36-9+deb12u10"),
                       QStringLiteral("2025-04-01 08:00:02 libc6:i386=2.36-9+deb12u10"),
                       QStringLiteral("2025-05-03 10:00:00 openssl:amd64=3.0.16-1"),
                       QStringLiteral("2025-06-24 14:36:25 libudev1:amd64=252.38-1"),
                       QStringLiteral("2025-06-25 09:00:00 curl:amd64=7.88.1-10"),
                   }));

    // The rendered objects carry the package without its architecture as the update's name.
    const auto objects = LinuxSoftwareClasses::updateObjects(history);
    QCOMPARE(objects.size(), history.size());
    QCOMPARE(variantText(objects.at(2).get(QStringLiteral("Name"))), QStringLiteral("openssl"));
    QCOMPARE(variantText(objects.at(2).get(QStringLiteral("HotFixID"))),
             QStringLiteral("openssl=3.0.16-1"));
    QCOMPARE(variantText(objects.at(2).get(QStringLiteral("Caption"))),
             QStringLiteral("openssl:amd64 3.0.15-1 -> 3.0.16-1"));
    QCOMPARE(variantText(objects.at(2).get(QStringLiteral("InstalledOn"))),
             QStringLiteral("2025-05-03 10:00:00"));

    // Without any log there is simply no history.
    QVERIFY(DpkgLog::history(dir.filePath(QStringLiteral("none.log")),
                             QStringLiteral("2000-01-01 00:00:00"))
                .isEmpty());
}

void TestLinuxSources::damagedCompressedLog()
{
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "2025-04-01 08:00:00 upgrade package" + QByteArray::number(i) + ":amd64 1.0 1.1\n";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dpkg.log.2.gz"));
    QVERIFY(writeGzip(path, text));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() / 2));
    file.close();

    // The complete lines before the cut survive; the cut line does not.
    QByteArray content;
    QVERIFY(DpkgLog::readLog(path, content));
    QVERIFY(content.size() > 0 && content.size() < text.size());
    QVERIFY(content.endsWith('\n'));
    QVERIFY(text.startsWith(content));
    QCOMPARE(DpkgLog::parse(content).size(), content.count('\n'));

    QVERIFY(!DpkgLog::readLog(dir.filePath(QStringLiteral("missing.gz")), content));
}

void TestLinuxSources::deviceVendor_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("idList");
    QTest::addColumn<bool>("udev");
    QTest::addColumn<QString>("vendor");

    const QString virtio = QStringLiteral("eth0-device");
    const QString nvme = QStringLiteral("devices/pci0000:00/0000:00:04.0/nvme/nvme0");
    const QString usb = QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");
    const QString scsi =
        QStringLiteral("devices/pci0000:00/0000:00:05.0/host0/target0:0:0/0:0:0:0");
    const QString blank =
        QStringLiteral("devices/pci0000:00/0000:00:05.0/host0/target0:0:1/0:0:1:0");
    const QString redHat = QStringLiteral("Red Hat, Inc.");
    QTest::addRow("virtio id named by the list") << virtio << true << false << redHat;
    QTest::addRow("virtio without the list, udev names the PCI function")
        << virtio << false << true << redHat;
    QTest::addRow("virtio with neither: left to the caller")
        << virtio << false << false << QString();
    QTest::addRow("NVMe controller: the PCI function above names it")
        << nvme << true << false << QStringLiteral("Samsung Electronics Co Ltd");
    QTest::addRow("USB interface: the device's manufacturer")
        << usb << false << false << QStringLiteral("Realtek");
    QTest::addRow("SCSI vendor text") << scsi << true << true << QStringLiteral("QEMU");
    QTest::addRow("blank SCSI vendor is not the controller's")
        << blank << true << true << QString();
    QTest::addRow("no such device") << QStringLiteral("missing") << true << true << QString();
}

void TestLinuxSources::deviceVendor()
{
    QFETCH(QString, device);
    QFETCH(bool, idList);
    QFETCH(bool, udev);
    QFETCH(QString, vendor);
    DeviceVendor::Sources sources;
    sources.idLists = QStringList{idList ? sysfs.filePath(QStringLiteral("pci.ids"))
                                         : sysfs.filePath(QStringLiteral("no-pci.ids"))};
    sources.udevDataDir = sysfs.filePath(udev ? QStringLiteral("udev") : QStringLiteral("no-udev"));
    QCOMPARE(DeviceVendor::name(sysfs.filePath(device), sources), vendor);
}

void TestLinuxSources::installLocation_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("location");
    QTest::addRow("own directory; commands, menu entry, docs and configuration aside")
        << QStringLiteral("viewer") << QStringLiteral("/opt/viewer");
    QTest::addRow("add-on of the same source inside it")
        << QStringLiteral("viewer-plugins") << QStringLiteral("/opt/viewer/plugins");
    QTest::addRow("list named with the architecture")
        << QStringLiteral("libfoo1") << QStringLiteral("/usr/lib/x86_64-linux-gnu/foo");
    QTest::addRow("directory holding another source's files")
        << QStringLiteral("libbar1") << QString();
    QTest::addRow("only a command and its manual") << QStringLiteral("tool") << QString();
    QTest::addRow("files in two separate trees") << QStringLiteral("split") << QString();
    QTest::addRow("no file list") << QStringLiteral("nolist") << QString();
}

void TestLinuxSources::installLocation()
{
    QFETCH(QString, package);
    QFETCH(QString, location);
    QVector<DpkgDatabase::Package> packages;
    QVERIFY(DpkgDatabase::installedPackages(dpkg.filePath(QStringLiteral("status")), packages));
    QCOMPARE(packages.size(), 7);
    for (const auto &found : qAsConst(packages)) {
        if (found.name == package) {
            QCOMPARE(found.installLocation, location);
            return;
        }
    }
    QFAIL("package not listed");
}

void TestLinuxSources::installLocationInSoftwareList()
{
    LinuxRegistry registry(dpkg.filePath(QStringLiteral("status")), QString(), QString());
    QVector<SoftwareRegistry::UninstallEntry> entries;
    QVERIFY(registry.uninstallEntries(entries));
    QCOMPARE(entries.at(0).values.value(QStringLiteral("DisplayName")), QStringLiteral("viewer"));
    QCOMPARE(entries.at(0).values.value(QStringLiteral("InstallLocation")),
             QStringLiteral("/opt/viewer"));
}

void TestLinuxSources::packagesReadAgainAfterChange()
{
    // The last reading is kept only while dpkg's database stays as it was.
    QTemporaryDir root;
    const QString status = root.filePath(QStringLiteral("status"));
    QVERIFY(writeFile(status, "Package: one\nStatus: install ok installed\nVersion: 1\n"));
    QVERIFY(writeFile(root.filePath(QStringLiteral("info/one.list")), "/.\n/opt/one/bin/one\n"));
    QVector<DpkgDatabase::Package> packages;
    QVERIFY(DpkgDatabase::installedPackages(status, packages));
    QCOMPARE(packages.size(), 1);

    QVERIFY(writeFile(root.filePath(QStringLiteral("info/two.list")), "/.\n/opt/two/lib/two.so\n"));
    QVERIFY(writeFile(status, "Package: one\nStatus: install ok installed\nVersion: 1.1\n\n"
                              "Package: two\nStatus: install ok installed\nVersion: 2\n"));
    packages.clear();
    QVERIFY(DpkgDatabase::installedPackages(status, packages));
    QCOMPARE(packages.size(), 2);
    QCOMPARE(packages.at(0).version, QStringLiteral("1.1"));
    QCOMPARE(packages.at(1).installLocation, QStringLiteral("/opt/two/lib"));

    QVERIFY(QFile::remove(status));
    QVERIFY(!DpkgDatabase::installedPackages(status, packages));
}

QTEST_GUILESS_MAIN(TestLinuxSources)
#include "tst_linuxsources.moc"
