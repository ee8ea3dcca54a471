#include "subnetaddresses.h"

#include <QHostAddress>
#include <QPair>

QStringList subnetAddresses(const QString &netIp, const QString &mask)
{
    if (netIp.startsWith(QLatin1String("127.0.0")))
        return {QStringLiteral("127.0.0.1")};

    const QPair<QHostAddress, int> subnet =
        QHostAddress::parseSubnet(QStringLiteral("%1/%2").arg(netIp, mask));
    if (subnet.first.protocol() != QAbstractSocket::IPv4Protocol || subnet.second < kMinDiscoveryPrefix ||
        subnet.second > 32)
        return {};
    const int prefix = subnet.second;
    const quint32 network = subnet.first.toIPv4Address() & (~quint32(0) << (32 - prefix));
    const quint64 count = quint64(1) << (32 - prefix);
    if (count == 1)
        return {netIp};

    int a = int(network >> 24), b = int((network >> 16) & 0xFF), c = int((network >> 8) & 0xFF),
        d = int(network & 0xFF);
    QStringList addresses;
    for (quint64 i = 0; i < count; ++i) {
        if (i != 0 && i != count - 1)
            addresses.append(QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d));
        if (d == 255) {
            d = 0;
            if (c == 255) {
                c = 0;
                b = b + 1;
            } else {
                c = c + 1;
            }
        } else {
            d = d + 1;
        }
    }
    addresses.removeDuplicates();
    return addresses;
}
