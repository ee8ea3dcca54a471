#include "linuxstorageclasses.h"

#include "devicevendor.h"
#include "linuxfiles.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <climits>
#include <limits>
#include <sys/statvfs.h>

namespace
{

constexpr quint64 kMiB = 1048576;
constexpr quint64 kSectorBytes = 512; // /sys/block sizes are always in 512-byte units
// The translated geometry disks report for CHS compatibility.
constexpr quint64 kTracksPerCylinder = 255;
constexpr quint64 kSectorsPerTrack = 63;

const QSet<QString> &networkFileSystems()
{
    static const QSet<QString> types = {QStringLiteral("nfs"), QStringLiteral("nfs4"),
                                        QStringLiteral("cifs"), QStringLiteral("smb3"),
                                        QStringLiteral("fuse.sshfs")};
    return types;
}

QString decodeOctal(const QString &field)
{
    QString out;
    for (int i = 0; i < field.size(); ++i) {
        if (field.at(i) == QLatin1Char('\\') && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field.at(i);
    }
    return out;
}

struct MountSpace {
    bool ok = false;
    LinuxStorageClasses::Space space;
    quint64 fsid = 0;
};

MountSpace spaceOf(const QString &mountPoint)
{
    MountSpace result;
    struct statvfs st;
    if (::statvfs(QFile::encodeName(mountPoint).constData(), &st) != 0)
        return result;
    result.ok = true;
    result.space =
        LinuxStorageClasses::spaceFromBlocks(st.f_blocks, st.f_bfree, st.f_bavail, st.f_frsize);
    result.fsid = st.f_fsid;
    return result;
}

QStringList physicalDisks()
{
    QStringList disks;
    for (const QString &name : LinuxFiles::entries(QStringLiteral("/sys/block"))) {
        // Loop, RAM and mapper devices have no device of their own behind them.
        if (QFile::exists(QLatin1String("/sys/block/") + name + QLatin1String("/device")))
            disks.append(name);
    }
    return disks;
}

QStringList partitionsOf(const QString &disk)
{
    QStringList parts;
    const QString dir = QLatin1String("/sys/block/") + disk + QLatin1Char('/');
    for (const QString &entry : LinuxFiles::entries(dir)) {
        if (QFile::exists(dir + entry + QLatin1String("/partition")))
            parts.append(entry);
    }
    std::sort(parts.begin(), parts.end(), [&](const QString &a, const QString &b) {
        return LinuxFiles::readNumber(dir + a + QLatin1String("/partition")) <
               LinuxFiles::readNumber(dir + b + QLatin1String("/partition"));
    });
    return parts;
}

} // namespace

LinuxStorageClasses::Space LinuxStorageClasses::spaceFromBlocks(quint64 blocks, quint64 freeBlocks,
                                                                quint64 availableBlocks,
                                                                quint64 blockSize)
{
    Space space;
    space.size = blocks * blockSize;
    space.used = blocks > freeBlocks ? (blocks - freeBlocks) * blockSize : 0;
    space.available = availableBlocks * blockSize;
    return space;
}

qint32 LinuxStorageClasses::percentAvailable(const Space &space)
{
    quint64 available = space.available;
    quint64 usable = space.used + available;
    if (usable == 0)
        return 100;
    // Keeps the product below 2^64 for sums of very large file systems.
    while (usable > std::numeric_limits<quint64>::max() / 100) {
        usable >>= 10;
        available >>= 10;
    }
    return qint32(available * 100 / usable);
}

QVector<LinuxStorageClasses::Mount> LinuxStorageClasses::parseMounts(const QString &mountsText)
{
    QVector<Mount> mounts;
    QSet<QString> seen;
    for (const QString &line : mountsText.split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 3)
            continue;
        Mount mount{decodeOctal(fields.at(0)), decodeOctal(fields.at(1)), fields.at(2)};
        const bool block = mount.device.startsWith(QLatin1String("/dev/")) &&
                           !mount.device.startsWith(QLatin1String("/dev/loop"));
        if (!block && !networkFileSystems().contains(mount.type))
            continue;
        if (seen.contains(mount.device))
            continue;
        seen.insert(mount.device);
        mounts.append(mount);
    }
    return mounts;
}

bool LinuxStorageClasses::logicalDisks(QVector<ManagementObject> &instances)
{
    const QString text = LinuxFiles::readText(QStringLiteral("/proc/self/mounts"));
    if (text.isEmpty())
        return false;
    for (const Mount &mount : parseMounts(text)) {
        const MountSpace space = spaceOf(mount.mountPoint);
        ManagementObject disk;
        disk.set(QStringLiteral("Name"), PropertyValue::text(mount.mountPoint));
        disk.set(QStringLiteral("DeviceID"), PropertyValue::text(mount.mountPoint));
        disk.set(QStringLiteral("Description"), PropertyValue::text(mount.device));
        disk.set(QStringLiteral("FileSystem"), PropertyValue::text(mount.type));
        if (space.ok) {
            disk.set(QStringLiteral("Size"), PropertyValue::uint64(space.space.size));
            disk.set(QStringLiteral("FreeSpace"), PropertyValue::uint64(space.space.available));
            disk.set(QStringLiteral("VolumeSerialNumber"),
                     PropertyValue::text(QStringLiteral("%1")
                                             .arg(space.fsid & 0xFFFFFFFFu, 8, 16, QLatin1Char('0'))
                                             .toUpper()));
        }
        instances.append(disk);
    }
    return true;
}

bool LinuxStorageClasses::logicalDiskCounters(QVector<ManagementObject> &instances)
{
    const QString text = LinuxFiles::readText(QStringLiteral("/proc/self/mounts"));
    if (text.isEmpty())
        return false;
    // Free megabytes are what users may still write (df's Avail); the percentage is df's, so
    // that 100 minus it, the usage a disk alarm compares, matches df's Use%.
    auto add = [&](const QString &name, const Space &space) {
        ManagementObject disk;
        disk.set(QStringLiteral("Name"), PropertyValue::text(name));
        disk.set(QStringLiteral("FreeMegabytes"),
                 PropertyValue::int32(qint32(qMin<quint64>(space.available / kMiB, INT_MAX))));
        disk.set(QStringLiteral("PercentFreeSpace"), PropertyValue::int32(percentAvailable(space)));
        instances.append(disk);
    };
    Space total;
    for (const Mount &mount : parseMounts(text)) {
        const MountSpace space = spaceOf(mount.mountPoint);
        if (!space.ok)
            continue;
        add(mount.mountPoint, space.space);
        total.size += space.space.size;
        total.used += space.space.used;
        total.available += space.space.available;
    }
    add(QStringLiteral("_Total"), total);
    return true;
}

bool LinuxStorageClasses::diskDrives(QVector<ManagementObject> &instances)
{
    qint32 index = 0;
    for (const QString &name : physicalDisks()) {
        const QString dir = QLatin1String("/sys/block/") + name + QLatin1Char('/');
        const quint64 sectors =
            quint64(qMax<qint64>(0, LinuxFiles::readNumber(dir + QLatin1String("size"), 0)));
        ManagementObject disk;
        disk.set(QStringLiteral("Index"), PropertyValue::int32(index++));
        disk.set(QStringLiteral("Name"), PropertyValue::text(QLatin1String("/dev/") + name));
        const bool removable = LinuxFiles::readNumber(dir + QLatin1String("removable"), 0) == 1;
        disk.set(QStringLiteral("Description"),
                 PropertyValue::text(removable ? QStringLiteral("Removable disk drive")
                                               : QStringLiteral("Disk drive")));
        disk.set(QStringLiteral("Manufacturer"),
                 PropertyValue::text(DeviceVendor::name(dir + QLatin1String("device"))));
        QString model = LinuxFiles::readFirstLine(dir + QLatin1String("device/model"));
        disk.set(QStringLiteral("Model"), PropertyValue::text(model.isEmpty() ? name : model));
        QString driver = LinuxFiles::linkTarget(dir + QLatin1String("device/driver"))
                             .section(QLatin1Char('/'), -1);
        disk.set(QStringLiteral("ServiceName"), PropertyValue::text(driver));
        disk.set(QStringLiteral("MediaLoaded"), PropertyValue::boolean(sectors > 0));
        disk.set(QStringLiteral("MediaType"),
                 PropertyValue::text(removable ? QStringLiteral("Removable Media")
                                               : QStringLiteral("Fixed hard disk media")));
        disk.set(QStringLiteral("Partitions"), PropertyValue::int32(partitionsOf(name).size()));
        // SCSI disks sit at host:channel:target:lun.
        const QString address =
            LinuxFiles::linkTarget(dir + QLatin1String("device")).section(QLatin1Char('/'), -1);
        const QRegularExpressionMatch hctl =
            QRegularExpression(QStringLiteral("^(\\d+):(\\d+):(\\d+):(\\d+)$")).match(address);
        disk.set(QStringLiteral("SCSIPort"),
                 PropertyValue::int32(hctl.hasMatch() ? hctl.captured(1).toInt() : 0));
        disk.set(QStringLiteral("SCSIBus"),
                 PropertyValue::int32(hctl.hasMatch() ? hctl.captured(2).toInt() : 0));
        disk.set(QStringLiteral("SCSITargetId"),
                 PropertyValue::int32(hctl.hasMatch() ? hctl.captured(3).toInt() : 0));
        disk.set(QStringLiteral("SCSILogicalUnit"),
                 PropertyValue::int32(hctl.hasMatch() ? hctl.captured(4).toInt() : 0));
        const quint64 cylinders = sectors / (kTracksPerCylinder * kSectorsPerTrack);
        disk.set(QStringLiteral("SectorsPerTrack"), PropertyValue::int32(kSectorsPerTrack));
        disk.set(QStringLiteral("TracksPerCylinder"), PropertyValue::int32(kTracksPerCylinder));
        disk.set(QStringLiteral("TotalCylinders"), PropertyValue::uint64(cylinders));
        disk.set(QStringLiteral("TotalTracks"),
                 PropertyValue::uint64(cylinders * kTracksPerCylinder));
        disk.set(QStringLiteral("TotalSectors"), PropertyValue::uint64(sectors));
        disk.set(QStringLiteral("Size"), PropertyValue::uint64(sectors * kSectorBytes));
        instances.append(disk);
    }
    return true;
}

bool LinuxStorageClasses::diskPartitions(QVector<ManagementObject> &instances)
{
    // Partitions holding /boot count as the bootable ones.
    QSet<QString> bootDevices;
    for (const Mount &mount :
         parseMounts(LinuxFiles::readText(QStringLiteral("/proc/self/mounts")))) {
        if (mount.mountPoint == QLatin1String("/boot") ||
            mount.mountPoint == QLatin1String("/boot/efi"))
            bootDevices.insert(mount.device.section(QLatin1Char('/'), -1));
    }
    qint32 diskIndex = 0;
    for (const QString &disk : physicalDisks()) {
        qint32 index = 0;
        for (const QString &part : partitionsOf(disk)) {
            const QString dir =
                QLatin1String("/sys/block/") + disk + QLatin1Char('/') + part + QLatin1Char('/');
            const qint64 number = LinuxFiles::readNumber(dir + QLatin1String("partition"), 0);
            const auto uevent = LinuxFiles::readAssignments(dir + QLatin1String("uevent"));
            const QString devNumbers = LinuxFiles::readFirstLine(dir + QLatin1String("dev"));
            const auto udev =
                LinuxFiles::readAssignments(QLatin1String("/run/udev/data/b") + devNumbers);
            QString type;
            for (auto it = udev.constBegin(); it != udev.constEnd(); ++it) {
                if (it.key() == QLatin1String("E:ID_FS_TYPE"))
                    type = it.value();
            }
            ManagementObject partition;
            partition.set(QStringLiteral("DiskIndex"), PropertyValue::int32(diskIndex));
            partition.set(QStringLiteral("Index"), PropertyValue::int32(index));
            partition.set(QStringLiteral("Name"),
                          PropertyValue::text(
                              QStringLiteral("Disk #%1, Partition #%2").arg(diskIndex).arg(index)));
            partition.set(QStringLiteral("Description"),
                          PropertyValue::text(QLatin1String("/dev/") + part));
            partition.set(QStringLiteral("Type"),
                          PropertyValue::text(
                              type.isEmpty() ? uevent.value(QStringLiteral("PARTNAME")) : type));
            partition.set(QStringLiteral("PrimaryPartition"),
                          PropertyValue::boolean(number >= 1 && number <= 4));
            partition.set(QStringLiteral("Bootable"),
                          PropertyValue::boolean(bootDevices.contains(part)));
            partition.set(QStringLiteral("Size"),
                          PropertyValue::uint64(
                              quint64(qMax<qint64>(
                                  0, LinuxFiles::readNumber(dir + QLatin1String("size"), 0))) *
                              kSectorBytes));
            partition.set(QStringLiteral("StartingOffset"),
                          PropertyValue::uint64(
                              quint64(qMax<qint64>(
                                  0, LinuxFiles::readNumber(dir + QLatin1String("start"), 0))) *
                              kSectorBytes));
            instances.append(partition);
            ++index;
        }
        ++diskIndex;
    }
    return true;
}

bool LinuxStorageClasses::shares(QVector<ManagementObject> &instances)
{
    // Samba shares: every section but [global] that names a path (or is [homes]/[printers]).
    const QStringList lines =
        LinuxFiles::readText(QStringLiteral("/etc/samba/smb.conf")).split(QLatin1Char('\n'));
    ManagementObject share;
    QString section;
    auto flush = [&]() {
        if (!section.isEmpty() &&
            section.compare(QLatin1String("global"), Qt::CaseInsensitive) != 0 &&
            share.has(QStringLiteral("Path")))
            instances.append(share);
        share = ManagementObject();
    };
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            flush();
            section = line.mid(1, line.size() - 2).trimmed();
            share.set(QStringLiteral("Name"), PropertyValue::text(section));
            share.set(QStringLiteral("Caption"), PropertyValue::text(section));
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed().toLower();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("path"))
            share.set(QStringLiteral("Path"), PropertyValue::text(value));
        else if (key == QLatin1String("comment"))
            share.set(QStringLiteral("Description"), PropertyValue::text(value));
    }
    flush();

    // NFS exports: "path clients(options) ...".
    for (const QString &raw :
         LinuxFiles::readText(QStringLiteral("/etc/exports")).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        QString path = line.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0);
        const QString clients = line.mid(path.size()).trimmed();
        path = LinuxFiles::unquote(path);
        ManagementObject exportShare;
        exportShare.set(QStringLiteral("Name"), PropertyValue::text(path));
        exportShare.set(QStringLiteral("Caption"), PropertyValue::text(path));
        exportShare.set(QStringLiteral("Description"), PropertyValue::text(clients));
        exportShare.set(QStringLiteral("Path"), PropertyValue::text(path));
        instances.append(exportShare);
    }
    return true;
}
