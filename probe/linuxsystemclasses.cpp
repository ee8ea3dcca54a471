#include "linuxsystemclasses.h"

#include "linuxfiles.h"
#include "pcinames.h"
#include "smbiostable.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>
#include <sys/utsname.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace
{

struct CpuInfo {
    int logical = 0;
    // physical id -> set of core ids
    QMap<QString, QSet<QString>> packages;
    QString vendor;
    QString model;
    QString family;
    QString modelNumber;
    QString stepping;
    double mhz = 0;
};

CpuInfo readCpuInfo()
{
    CpuInfo info;
    QString physical = QStringLiteral("0");
    const QStringList blocks =
        LinuxFiles::readText(QStringLiteral("/proc/cpuinfo")).split(QStringLiteral("\n\n"));
    for (const QString &block : blocks) {
        QHash<QString, QString> fields;
        for (const QString &line : block.split(QLatin1Char('\n'))) {
            const int colon = line.indexOf(QLatin1Char(':'));
            if (colon > 0)
                fields.insert(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
        }
        if (!fields.contains(QStringLiteral("processor")))
            continue;
        ++info.logical;
        physical = fields.value(QStringLiteral("physical id"), QStringLiteral("0"));
        info.packages[physical].insert(
            fields.value(QStringLiteral("core id"), fields.value(QStringLiteral("processor"))));
        if (info.model.isEmpty()) {
            info.vendor = fields.value(QStringLiteral("vendor_id"));
            info.model = fields.value(QStringLiteral("model name"),
                                      fields.value(QStringLiteral("Processor")));
            info.family = fields.value(QStringLiteral("cpu family"));
            info.modelNumber = fields.value(QStringLiteral("model"));
            info.stepping = fields.value(QStringLiteral("stepping"));
            info.mhz = fields.value(QStringLiteral("cpu MHz")).toDouble();
        }
    }
    return info;
}

// The rated clock, stable between calls so that hardware snapshots compare equal.
qint32 maxClockMHz(const CpuInfo &info)
{
    const qint64 khz = LinuxFiles::readNumber(
        QStringLiteral("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"));
    if (khz > 0)
        return qint32(khz / 1000);
    static const QRegularExpression rated(QStringLiteral("@\\s*([0-9.]+)\\s*GHz"));
    const QRegularExpressionMatch m = rated.match(info.model);
    if (m.hasMatch())
        return qint32(m.captured(1).toDouble() * 1000 + 0.5);
    return qint32(info.mhz + 0.5);
}

QString processorId()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return QStringLiteral("%1%2")
            .arg(edx, 8, 16, QLatin1Char('0'))
            .arg(eax, 8, 16, QLatin1Char('0'))
            .toUpper();
#endif
    return QString();
}

QString memoryKiB(const char *key)
{
    return LinuxFiles::readColonFields(QStringLiteral("/proc/meminfo"))
        .value(QLatin1String(key))
        .section(QLatin1Char(' '), 0, 0);
}

void readSmbios(QVector<SmbiosTable::MemoryArray> &arrays,
                QVector<SmbiosTable::MemoryModule> &modules)
{
    QFile file(QLatin1String(SmbiosTable::kTablePath));
    if (file.open(QIODevice::ReadOnly))
        SmbiosTable::parse(file.readAll(), arrays, modules);
}

} // namespace

QString LinuxSystemClasses::managementDateTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc() / 60;
    return time.toString(QStringLiteral("yyyyMMddhhmmss")) + QLatin1String(".000000") +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1").arg(qAbs(offset), 3, 10, QLatin1Char('0'));
}

qint32 LinuxSystemClasses::architectureCode(const QString &machine)
{
    if (machine == QLatin1String("x86_64") || machine == QLatin1String("amd64"))
        return 9;
    if (QRegularExpression(QStringLiteral("^i[3-6]86$")).match(machine).hasMatch())
        return 0;
    if (machine.startsWith(QLatin1String("mips")))
        return 1;
    if (machine.startsWith(QLatin1String("alpha")))
        return 2;
    if (machine.startsWith(QLatin1String("ppc")))
        return 3;
    if (machine == QLatin1String("ia64"))
        return 6;
    if (machine.startsWith(QLatin1String("arm")))
        return 5;
    if (machine == QLatin1String("aarch64"))
        return 12;
    return 0xFFFF; // no code for this machine: shown as its number
}

qint32 LinuxSystemClasses::batteryStatusCode(const QString &status)
{
    if (status == QLatin1String("Discharging"))
        return 1;
    if (status == QLatin1String("Full"))
        return 3;
    if (status == QLatin1String("Charging"))
        return 6;
    if (status == QLatin1String("Not charging"))
        return 2;
    return 2; // "Unknown": on mains, not known to charge
}

bool LinuxSystemClasses::operatingSystem(QVector<ManagementObject> &instances)
{
    struct utsname uts;
    if (::uname(&uts) != 0)
        return false;
    const auto release = LinuxFiles::readAssignments(QStringLiteral("/etc/os-release"));
    ManagementObject os;
    os.set(QStringLiteral("Caption"),
           PropertyValue::text(
               release.value(QStringLiteral("PRETTY_NAME"), QSysInfo::prettyProductName())));
    os.set(QStringLiteral("Version"), PropertyValue::text(QString::fromLocal8Bit(uts.release)));
    // A Debian point release is the cumulative update of its version, like a service pack.
    const QString debian = LinuxFiles::readFirstLine(QStringLiteral("/etc/debian_version"));
    const QStringList point = debian.split(QLatin1Char('.'));
    bool numeric = false;
    const int pointRelease = point.size() == 2 ? point.at(1).toInt(&numeric) : 0;
    os.set(QStringLiteral("ServicePackMajorVersion"),
           PropertyValue::int32(numeric ? pointRelease : 0));
    os.set(QStringLiteral("ServicePackMinorVersion"), PropertyValue::int32(0));
    os.set(QStringLiteral("OSArchitecture"),
           PropertyValue::text(QString::fromLocal8Bit(uts.machine)));
    QString machineId = LinuxFiles::readFirstLine(QStringLiteral("/etc/machine-id"));
    if (machineId.isEmpty())
        machineId = LinuxFiles::readFirstLine(QStringLiteral("/var/lib/dbus/machine-id"));
    os.set(QStringLiteral("SerialNumber"), PropertyValue::text(machineId));
    os.set(QStringLiteral("TotalVisibleMemorySize"), PropertyValue::int64(memoryKiB("MemTotal")));
    os.set(QStringLiteral("FreePhysicalMemory"), PropertyValue::int64(memoryKiB("MemAvailable")));
    os.set(QStringLiteral("CSName"), PropertyValue::text(QSysInfo::machineHostName()));
    for (const QString &line :
         LinuxFiles::readText(QStringLiteral("/proc/stat")).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("btime "))) {
            const QDateTime boot = QDateTime::fromSecsSinceEpoch(line.mid(6).toLongLong());
            os.set(QStringLiteral("LastBootUpTime"),
                   PropertyValue::dateTime(managementDateTime(boot)));
        }
    }
    instances.append(os);
    return true;
}

bool LinuxSystemClasses::computerSystem(QVector<ManagementObject> &instances)
{
    const CpuInfo cpu = readCpuInfo();
    ManagementObject system;
    system.set(QStringLiteral("Name"), PropertyValue::text(QSysInfo::machineHostName()));
    system.set(QStringLiteral("NumberOfProcessors"),
               PropertyValue::int32(qMax(1, cpu.packages.size())));
    system.set(QStringLiteral("NumberOfLogicalProcessors"),
               PropertyValue::int32(qMax(1, cpu.logical)));
    system.set(QStringLiteral("TotalPhysicalMemory"),
               PropertyValue::uint64(memoryKiB("MemTotal").toULongLong() * 1024));
    instances.append(system);
    return true;
}

bool LinuxSystemClasses::processors(QVector<ManagementObject> &instances)
{
    const CpuInfo cpu = readCpuInfo();
    if (cpu.logical == 0)
        return false;
    struct utsname uts;
    ::uname(&uts);
    const QString description = cpu.family.isEmpty()
                                    ? cpu.model
                                    : QStringLiteral("%1 Family %2 Model %3 Stepping %4")
                                          .arg(QString::fromLocal8Bit(uts.machine), cpu.family,
                                               cpu.modelNumber, cpu.stepping);
    int index = 0;
    for (auto it = cpu.packages.constBegin(); it != cpu.packages.constEnd(); ++it) {
        ManagementObject processor;
        processor.set(QStringLiteral("DeviceID"),
                      PropertyValue::text(QStringLiteral("CPU%1").arg(index++)));
        processor.set(QStringLiteral("Name"), PropertyValue::text(cpu.model));
        processor.set(QStringLiteral("Manufacturer"), PropertyValue::text(cpu.vendor));
        processor.set(QStringLiteral("Description"), PropertyValue::text(description));
        processor.set(QStringLiteral("ProcessorId"), PropertyValue::text(processorId()));
        processor.set(QStringLiteral("Architecture"),
                      PropertyValue::int32(architectureCode(QString::fromLocal8Bit(uts.machine))));
        processor.set(QStringLiteral("NumberOfCores"), PropertyValue::int32(it.value().size()));
        processor.set(QStringLiteral("MaxClockSpeed"), PropertyValue::int32(maxClockMHz(cpu)));
        instances.append(processor);
    }
    return true;
}

bool LinuxSystemClasses::physicalMemory(QVector<ManagementObject> &instances)
{
    // Without a readable firmware table (not root, or none exposed) there are no modules.
    QVector<SmbiosTable::MemoryArray> arrays;
    QVector<SmbiosTable::MemoryModule> modules;
    readSmbios(arrays, modules);
    for (const auto &module : qAsConst(modules)) {
        ManagementObject object;
        object.set(QStringLiteral("Capacity"), PropertyValue::uint64(module.capacityBytes));
        object.set(QStringLiteral("DeviceLocator"), PropertyValue::text(module.deviceLocator));
        object.set(QStringLiteral("FormFactor"), PropertyValue::int32(module.formFactor));
        object.set(QStringLiteral("MemoryType"), PropertyValue::int32(module.memoryType));
        object.set(QStringLiteral("TypeDetail"), PropertyValue::int32(module.typeDetail));
        if (module.speed > 0)
            object.set(QStringLiteral("Speed"), PropertyValue::int32(module.speed));
        instances.append(object);
    }
    return true;
}

bool LinuxSystemClasses::physicalMemoryArrays(QVector<ManagementObject> &instances)
{
    QVector<SmbiosTable::MemoryArray> arrays;
    QVector<SmbiosTable::MemoryModule> modules;
    readSmbios(arrays, modules);
    for (const auto &array : qAsConst(arrays)) {
        ManagementObject object;
        object.set(QStringLiteral("MemoryDevices"), PropertyValue::int32(array.memoryDevices));
        instances.append(object);
    }
    return true;
}

bool LinuxSystemClasses::videoControllers(QVector<ManagementObject> &instances)
{
    const QString root = QStringLiteral("/sys/bus/pci/devices/");
    struct utsname uts;
    ::uname(&uts);
    for (const QString &slot : LinuxFiles::entries(root)) {
        const QString dir = root + slot + QLatin1Char('/');
        const QString pciClass = LinuxFiles::readFirstLine(dir + QLatin1String("class"));
        // Display controllers are PCI base class 0x03.
        if (!pciClass.startsWith(QLatin1String("0x03")))
            continue;
        const QString vendor = LinuxFiles::readFirstLine(dir + QLatin1String("vendor")).mid(2);
        const QString device = LinuxFiles::readFirstLine(dir + QLatin1String("device")).mid(2);
        ManagementObject video;
        video.set(QStringLiteral("Name"),
                  PropertyValue::text(PciNames::deviceName(vendor, device)));
        video.set(QStringLiteral("DeviceID"), PropertyValue::text(slot));
        // The largest memory window of the device: its frame buffer aperture.
        quint64 largest = 0;
        for (const QString &line :
             LinuxFiles::readText(dir + QLatin1String("resource")).split(QLatin1Char('\n'))) {
            const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (parts.size() < 3)
                continue;
            const quint64 start = parts.at(0).toULongLong(nullptr, 16);
            const quint64 end = parts.at(1).toULongLong(nullptr, 16);
            const quint64 flags = parts.at(2).toULongLong(nullptr, 16);
            if ((flags & 0x200) && end > start) // IORESOURCE_MEM
                largest = qMax(largest, end - start + 1);
        }
        const qint64 vram = LinuxFiles::readNumber(dir + QLatin1String("mem_info_vram_total"));
        video.set(QStringLiteral("AdapterRAM"),
                  PropertyValue::uint64(vram > 0 ? quint64(vram) : largest));
        const QString driver =
            LinuxFiles::linkTarget(dir + QLatin1String("driver")).section(QLatin1Char('/'), -1);
        video.set(QStringLiteral("InstalledDisplayDrivers"), PropertyValue::text(driver));
        QString version;
        if (!driver.isEmpty())
            version = LinuxFiles::readFirstLine(QLatin1String("/sys/module/") + driver +
                                                QLatin1String("/version"));
        if (version.isEmpty() && !driver.isEmpty())
            version = QString::fromLocal8Bit(uts.release);
        video.set(QStringLiteral("DriverVersion"), PropertyValue::text(version));
        // The first mode of a connected output of this card.
        for (const QString &connector : LinuxFiles::entries(dir + QLatin1String("drm"))) {
            const QString card = dir + QLatin1String("drm/") + connector + QLatin1Char('/');
            for (const QString &output : LinuxFiles::entries(card)) {
                if (LinuxFiles::readFirstLine(card + output + QLatin1String("/status")) ==
                    QLatin1String("connected")) {
                    const QString mode =
                        LinuxFiles::readFirstLine(card + output + QLatin1String("/modes"));
                    if (!mode.isEmpty() && !video.has(QStringLiteral("VideoModeDescription")))
                        video.set(QStringLiteral("VideoModeDescription"),
                                  PropertyValue::text(mode));
                }
            }
        }
        // Subclass 00 is VGA-compatible, 01 XGA; others (3D controllers) have no such name.
        const QString subclass = pciClass.mid(4, 2);
        video.set(QStringLiteral("VideoArchitecture"),
                  PropertyValue::int32(subclass == QLatin1String("00")   ? 5
                                       : subclass == QLatin1String("01") ? 11
                                                                         : 2));
        video.set(QStringLiteral("VideoMemoryType"), PropertyValue::int32(2));
        instances.append(video);
    }
    return true;
}

bool LinuxSystemClasses::batteries(QVector<ManagementObject> &instances)
{
    const QString root = QStringLiteral("/sys/class/power_supply/");
    for (const QString &name : LinuxFiles::entries(root)) {
        const QString dir = root + name + QLatin1Char('/');
        if (LinuxFiles::readFirstLine(dir + QLatin1String("type")) != QLatin1String("Battery"))
            continue;
        ManagementObject battery;
        const QString model = LinuxFiles::readFirstLine(dir + QLatin1String("model_name"));
        battery.set(QStringLiteral("Name"), PropertyValue::text(model.isEmpty() ? name : model));
        battery.set(QStringLiteral("DeviceID"), PropertyValue::text(name));
        const qint64 capacity = LinuxFiles::readNumber(dir + QLatin1String("capacity"));
        if (capacity >= 0)
            battery.set(QStringLiteral("EstimatedChargeRemaining"),
                        PropertyValue::int32(qint32(capacity)));
        battery.set(QStringLiteral("BatteryStatus"),
                    PropertyValue::int32(batteryStatusCode(
                        LinuxFiles::readFirstLine(dir + QLatin1String("status")))));
        instances.append(battery);
    }
    return true;
}
