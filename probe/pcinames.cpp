#include "pcinames.h"

#include <QFile>

QStringList PciNames::defaultLists()
{
    return {QStringLiteral("/usr/share/misc/pci.ids"), QStringLiteral("/usr/share/hwdata/pci.ids")};
}

bool PciNames::lookup(const QStringList &idLists, const QString &vendorId, const QString &deviceId,
                      QString &vendor, QString &device)
{
    for (const QString &path : idLists) {
        QFile file(path);
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
    if (lookup(defaultLists(), vendorId, deviceId, vendor, device) && !device.isEmpty())
        return vendor + QLatin1Char(' ') + device;
    return QStringLiteral("PCI device %1:%2").arg(vendorId, deviceId);
}

QString PciNames::vendorName(const QString &vendorId, const QStringList &idLists)
{
    QString vendor, device;
    lookup(idLists, vendorId, QString(), vendor, device);
    return vendor;
}
