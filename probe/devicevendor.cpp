#include "devicevendor.h"

#include "linuxfiles.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace
{

// A function of a device sits a few levels below the device that carries the maker's id
// (virtio device -> PCI function, NVMe controller -> "nvme" -> PCI function, USB interface ->
// USB device).
constexpr int kMaxLevels = 6;

// udev keeps what it learnt about a device under an id made from its character device
// number, or else from its subsystem and name.
QString udevRecord(const QString &dir, const QString &subsystem)
{
    const QString devNumbers = LinuxFiles::readFirstLine(dir + QLatin1String("/dev"));
    if (!devNumbers.isEmpty())
        return QLatin1Char('c') + devNumbers;
    return QLatin1Char('+') + subsystem + QLatin1Char(':') + QFileInfo(dir).fileName();
}

QString udevVendor(const QString &dataDir, const QString &record)
{
    static const QString key = QStringLiteral("E:ID_VENDOR_FROM_DATABASE=");
    const QString text = LinuxFiles::readText(dataDir + QLatin1Char('/') + record);
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed();
    }
    return QString();
}

} // namespace

QString DeviceVendor::name(const QString &deviceDir)
{
    return name(deviceDir, Sources());
}

QString DeviceVendor::name(const QString &deviceDir, const Sources &sources)
{
    static const QRegularExpression hexId(QStringLiteral("^0x([0-9a-fA-F]{4})$"));
    QString dir = QFileInfo(deviceDir).canonicalFilePath();
    for (int level = 0; level < kMaxLevels && !dir.isEmpty(); ++level) {
        // Every device directory of sysfs has a uevent file; class directories between
        // devices (the "nvme" of a PCI function) and what lies above the devices have none.
        if (!QFileInfo::exists(dir + QLatin1String("/uevent"))) {
            dir = QFileInfo(dir).path();
            continue;
        }
        const QString subsystem =
            LinuxFiles::linkTarget(dir + QLatin1String("/subsystem")).section(QLatin1Char('/'), -1);
        const QString vendor = LinuxFiles::readFirstLine(dir + QLatin1String("/vendor"));
        const QRegularExpressionMatch id = hexId.match(vendor);
        if (id.hasMatch()) {
            const QString known = PciNames::vendorName(id.captured(1), sources.idLists);
            if (!known.isEmpty())
                return known;
        } else if (!vendor.isEmpty() && !vendor.startsWith(QLatin1String("0x"))) {
            return vendor;
        }
        const QString manufacturer =
            LinuxFiles::readFirstLine(dir + QLatin1String("/manufacturer"));
        if (!manufacturer.isEmpty())
            return manufacturer;
        const QString recorded = udevVendor(sources.udevDataDir, udevRecord(dir, subsystem));
        if (!recorded.isEmpty())
            return recorded;
        // A PCI function or a USB device is the maker's own; a SCSI device that names no
        // vendor is not made by the controller above it.
        const bool ownDevice = subsystem == QLatin1String("pci") ||
                               QFileInfo::exists(dir + QLatin1String("/idVendor")) ||
                               (QFileInfo::exists(dir + QLatin1String("/vendor")) &&
                                !vendor.startsWith(QLatin1String("0x")));
        if (ownDevice)
            break;
        dir = QFileInfo(dir).path();
    }
    return QString();
}
