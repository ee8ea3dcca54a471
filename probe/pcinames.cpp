#include "pcinames.h"

#include <QFile>

namespace
{
const char *const kIdLists[] = {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"};
}

bool PciNames::lookup(const QString &vendorId, const QString &deviceId, QString &vendor,
                      QString &device)
{
    for (const char *path : kIdLists) {
        QFile file{QString::fromLatin1(path)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray vendorKey = vendorId.toLower().toLatin1() + "  ";
        const QByteArray deviceKey = '\t' + deviceId.toLower().toLatin1() + "  ";
        bool inVendor = false;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (line.startsWith('#') || line.trimmed().isEmpty())
                continue;
            if (!line.startsWith('\t')) {
                if (inVendor)
                    return true;
                inVendor = line.startsWith(vendorKey);
                if (inVendor)
                    vendor = QString::fromUtf8(line.mid(vendorKey.size())).trimmed();
            } else if (inVendor && !deviceId.isEmpty() && line.startsWith(deviceKey)) {
                device = QString::fromUtf8(line.mid(deviceKey.size())).trimmed();
                return true;
            }
        }
        return inVendor;
    }
    return false;
}

QString PciNames::deviceName(const QString &vendorId, const QString &deviceId)
{
    QString vendor, device;
    if (lookup(vendorId, deviceId, vendor, device) && !device.isEmpty())
        return vendor + QLatin1Char(' ') + device;
    return QStringLiteral("PCI device %1:%2").arg(vendorId, deviceId);
}

QString PciNames::vendorName(const QString &vendorId)
{
    QString vendor, device;
    lookup(vendorId, QString(), vendor, device);
    return vendor;
}
