#include "linuxnetworkclasses.h"

#include "devicevendor.h"
#include "linuxfiles.h"
#include "linuxperformanceclasses.h"

#include <QDir>
#include <QHostAddress>
#include <QRegularExpression>
#include <QThread>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace
{

const QString kNetRoot = QStringLiteral("/sys/class/net/");
constexpr quint64 kBitsPerMegabit = 1000000;

QString interfaceText(const QString &name, const char *file)
{
    return LinuxFiles::readFirstLine(kNetRoot + name + QLatin1Char('/') + QLatin1String(file));
}

// ARPHRD_* link types of the interface "type" file.
QString adapterType(int type)
{
    switch (type) {
    case 1:
        return QStringLiteral("Ethernet 802.3");
    case 24:
        return QStringLiteral("IEEE 1394");
    case 32:
        return QStringLiteral("InfiniBand");
    case 512:
        return QStringLiteral("PPP");
    case 772:
        return QStringLiteral("Loopback");
    case 776:
        return QStringLiteral("IPv6-in-IPv4");
    case 801:
        return QStringLiteral("Wireless");
    case 65534:
        return QStringLiteral("Tunnel");
    default:
        return QStringLiteral("Link type %1").arg(type);
    }
}

struct Addresses {
    QStringList addresses;
    QStringList subnets;
};

QHash<QString, Addresses> interfaceAddresses()
{
    QHash<QString, Addresses> result;
    struct ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (struct ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr)
            continue;
        const int family = it->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        QHostAddress address(it->ifa_addr);
        address.setScopeId(QString());
        Addresses &entry = result[QString::fromLocal8Bit(it->ifa_name)];
        entry.addresses.append(address.toString());
        if (family == AF_INET && it->ifa_netmask) {
            entry.subnets.append(QHostAddress(it->ifa_netmask).toString());
        } else if (it->ifa_netmask) {
            // IPv6 subnets are given as a prefix length.
            const QHostAddress mask(it->ifa_netmask);
            const Q_IPV6ADDR bytes = mask.toIPv6Address();
            int prefix = 0;
            for (int i = 0; i < 16; ++i)
                prefix += __builtin_popcount(bytes[i]);
            entry.subnets.append(QString::number(prefix));
        }
    }
    ::freeifaddrs(list);
    return result;
}

struct Lease {
    bool dhcp = false;
    QString server;
};

Lease leaseOf(const QString &name, int index)
{
    Lease lease;
    // systemd-networkd and NetworkManager keep KEY=VALUE lease files.
    QStringList files = {QStringLiteral("/run/systemd/netif/leases/%1").arg(index)};
    for (const QString &entry : LinuxFiles::entries(QStringLiteral("/var/lib/NetworkManager"))) {
        if (entry.endsWith(QLatin1Char('-') + name + QLatin1String(".lease")))
            files.append(QLatin1String("/var/lib/NetworkManager/") + entry);
    }
    for (const QString &file : qAsConst(files)) {
        const auto values = LinuxFiles::readAssignments(file);
        if (values.contains(QStringLiteral("ADDRESS"))) {
            lease.dhcp = true;
            lease.server = values.value(QStringLiteral("SERVER_ADDRESS"));
            return lease;
        }
    }
    // dhclient: the last lease block for this interface names its server.
    for (const QString &entry : LinuxFiles::entries(QStringLiteral("/var/lib/dhcp"))) {
        if (!entry.endsWith(QLatin1String(".leases")))
            continue;
        const QString text = LinuxFiles::readText(QLatin1String("/var/lib/dhcp/") + entry);
        for (const QString &block : text.split(QStringLiteral("lease {"))) {
            if (!block.contains(QStringLiteral("interface \"%1\"").arg(name)))
                continue;
            lease.dhcp = true;
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("dhcp-server-identifier\\s+([0-9.]+);"))
                    .match(block);
            if (m.hasMatch())
                lease.server = m.captured(1);
        }
    }
    if (lease.dhcp)
        return lease;
    // ifupdown configuration without a lease yet.
    const QString interfaces = LinuxFiles::readText(QStringLiteral("/etc/network/interfaces"));
    lease.dhcp = QRegularExpression(QStringLiteral("^\\s*iface\\s+%1\\s+inet6?\\s+dhcp")
                                        .arg(QRegularExpression::escape(name)),
                                    QRegularExpression::MultilineOption)
                     .match(interfaces)
                     .hasMatch();
    return lease;
}

QStringList interfaceNames()
{
    QStringList names = LinuxFiles::entries(kNetRoot);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return LinuxFiles::readNumber(kNetRoot + a + QLatin1String("/ifindex")) <
               LinuxFiles::readNumber(kNetRoot + b + QLatin1String("/ifindex"));
    });
    return names;
}

struct Sample {
    quint64 rxBytes = 0, txBytes = 0, rxPackets = 0, txPackets = 0;
};

QHash<QString, Sample> sampleStatistics(const QStringList &names)
{
    QHash<QString, Sample> samples;
    for (const QString &name : names) {
        const QString dir = kNetRoot + name + QLatin1String("/statistics/");
        Sample s;
        s.rxBytes =
            quint64(qMax<qint64>(0, LinuxFiles::readNumber(dir + QLatin1String("rx_bytes"), 0)));
        s.txBytes =
            quint64(qMax<qint64>(0, LinuxFiles::readNumber(dir + QLatin1String("tx_bytes"), 0)));
        s.rxPackets =
            quint64(qMax<qint64>(0, LinuxFiles::readNumber(dir + QLatin1String("rx_packets"), 0)));
        s.txPackets =
            quint64(qMax<qint64>(0, LinuxFiles::readNumber(dir + QLatin1String("tx_packets"), 0)));
        samples.insert(name, s);
    }
    return samples;
}

quint64 perSecond(quint64 before, quint64 after, qint64 elapsedMs)
{
    if (after < before || elapsedMs <= 0)
        return 0;
    return (after - before) * 1000 / quint64(elapsedMs);
}

} // namespace

QHash<QString, QStringList> LinuxNetworkClasses::parseIpv4Gateways(const QString &routeText)
{
    QHash<QString, QStringList> result;
    for (const QString &line : routeText.split(QLatin1Char('\n'))) {
        const QStringList f =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (f.size() < 8 || f.at(1) != QLatin1String("00000000") ||
            f.at(7) != QLatin1String("00000000"))
            continue;
        bool ok = false;
        const quint32 gateway = f.at(2).toUInt(&ok, 16);
        const quint32 flags = f.at(3).toUInt(nullptr, 16);
        if (!ok || gateway == 0 || !(flags & 0x2)) // RTF_GATEWAY
            continue;
        // The kernel prints the address in host (little-endian) byte order.
        const quint32 address = ((gateway & 0xFF) << 24) | ((gateway & 0xFF00) << 8) |
                                ((gateway >> 8) & 0xFF00) | (gateway >> 24);
        const QString text = QHostAddress(address).toString();
        if (!result[f.at(0)].contains(text))
            result[f.at(0)].append(text);
    }
    return result;
}

QHash<QString, QStringList> LinuxNetworkClasses::parseIpv6Gateways(const QString &routeText)
{
    QHash<QString, QStringList> result;
    for (const QString &line : routeText.split(QLatin1Char('\n'))) {
        const QStringList f =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (f.size() < 10 || f.at(1) != QLatin1String("00") || f.at(4).size() != 32)
            continue;
        if (f.at(0) != QString(32, QLatin1Char('0')) || f.at(4) == QString(32, QLatin1Char('0')))
            continue;
        Q_IPV6ADDR bytes;
        for (int i = 0; i < 16; ++i)
            bytes[i] = quint8(f.at(4).mid(i * 2, 2).toUInt(nullptr, 16));
        const QString text = QHostAddress(bytes).toString();
        if (!result[f.at(9)].contains(text))
            result[f.at(9)].append(text);
    }
    return result;
}

qint32 LinuxNetworkClasses::connectionStatus(const QString &operstate, bool carrier)
{
    if (operstate == QLatin1String("up"))
        return 2;
    // Loopback and some virtual links never report "up" but carry traffic.
    if (operstate == QLatin1String("unknown"))
        return carrier ? 2 : 0;
    if (operstate == QLatin1String("dormant"))
        return 1;
    if (operstate == QLatin1String("down") || operstate == QLatin1String("lowerlayerdown"))
        return 7;
    return 0;
}

bool LinuxNetworkClasses::adapters(QVector<ManagementObject> &instances)
{
    if (!QDir(kNetRoot).exists())
        return false;
    for (const QString &name : interfaceNames()) {
        ManagementObject adapter;
        const qint32 index =
            qint32(LinuxFiles::readNumber(kNetRoot + name + QLatin1String("/ifindex"), 0));
        adapter.set(QStringLiteral("Index"), PropertyValue::int32(index));
        adapter.set(QStringLiteral("DeviceID"), PropertyValue::text(QString::number(index)));
        adapter.set(QStringLiteral("Name"), PropertyValue::text(name));
        adapter.set(QStringLiteral("NetConnectionID"), PropertyValue::text(name));
        adapter.set(QStringLiteral("AdapterType"),
                    PropertyValue::text(adapterType(interfaceText(name, "type").toInt())));
        QString vendor = DeviceVendor::name(kNetRoot + name + QLatin1String("/device"));
        if (vendor.isEmpty())
            vendor = LinuxFiles::linkTarget(kNetRoot + name + QLatin1String("/device/driver"))
                         .section(QLatin1Char('/'), -1);
        adapter.set(QStringLiteral("Manufacturer"), PropertyValue::text(vendor));
        const QString mac = interfaceText(name, "address").toUpper();
        if (!mac.isEmpty() && mac != QLatin1String("00:00:00:00:00:00"))
            adapter.set(QStringLiteral("MACAddress"), PropertyValue::text(mac));
        adapter.set(QStringLiteral("NetConnectionStatus"),
                    PropertyValue::int32(
                        connectionStatus(interfaceText(name, "operstate"),
                                         interfaceText(name, "carrier") == QLatin1String("1"))));
        adapter.set(
            QStringLiteral("PhysicalAdapter"),
            PropertyValue::boolean(QFile::exists(kNetRoot + name + QLatin1String("/device"))));
        instances.append(adapter);
    }
    return true;
}

bool LinuxNetworkClasses::configurations(QVector<ManagementObject> &instances)
{
    if (!QDir(kNetRoot).exists())
        return false;
    const auto addresses = interfaceAddresses();
    const auto gateways4 =
        parseIpv4Gateways(LinuxFiles::readText(QStringLiteral("/proc/net/route")));
    const auto gateways6 =
        parseIpv6Gateways(LinuxFiles::readText(QStringLiteral("/proc/net/ipv6_route")));
    for (const QString &name : interfaceNames()) {
        const qint32 index =
            qint32(LinuxFiles::readNumber(kNetRoot + name + QLatin1String("/ifindex"), 0));
        const Lease lease = leaseOf(name, index);
        const Addresses own = addresses.value(name);
        ManagementObject configuration;
        configuration.set(QStringLiteral("Index"), PropertyValue::int32(index));
        configuration.set(QStringLiteral("Description"), PropertyValue::text(name));
        configuration.set(QStringLiteral("DHCPEnabled"), PropertyValue::boolean(lease.dhcp));
        configuration.set(QStringLiteral("IPEnabled"),
                          PropertyValue::boolean(!own.addresses.isEmpty()));
        if (!own.addresses.isEmpty()) {
            configuration.set(QStringLiteral("IPAddress"), PropertyValue::textList(own.addresses));
            configuration.set(QStringLiteral("IPSubnet"), PropertyValue::textList(own.subnets));
        }
        const QStringList gateways = gateways4.value(name) + gateways6.value(name);
        if (!gateways.isEmpty())
            configuration.set(QStringLiteral("DefaultIPGateway"),
                              PropertyValue::textList(gateways));
        if (!lease.server.isEmpty())
            configuration.set(QStringLiteral("DHCPServer"), PropertyValue::text(lease.server));
        const QString mac = interfaceText(name, "address").toUpper();
        configuration.set(QStringLiteral("MACAddress"), PropertyValue::text(mac));
        instances.append(configuration);
    }
    return true;
}

bool LinuxNetworkClasses::interfaceCounters(QVector<ManagementObject> &instances)
{
    if (!QDir(kNetRoot).exists())
        return false;
    const QStringList names = interfaceNames();
    QElapsedTimer timer;
    timer.start();
    const auto before = sampleStatistics(names);
    QThread::msleep(LinuxPerformanceClasses::kSampleIntervalMs);
    const auto after = sampleStatistics(names);
    const qint64 elapsed = timer.elapsed();
    for (const QString &name : names) {
        const Sample a = before.value(name), b = after.value(name);
        const quint64 received = perSecond(a.rxBytes, b.rxBytes, elapsed);
        const quint64 sent = perSecond(a.txBytes, b.txBytes, elapsed);
        const quint64 packets =
            perSecond(a.rxPackets + a.txPackets, b.rxPackets + b.txPackets, elapsed);
        const qint64 speed = LinuxFiles::readNumber(kNetRoot + name + QLatin1String("/speed"), 0);
        ManagementObject counters;
        counters.set(QStringLiteral("Name"), PropertyValue::text(name));
        counters.set(QStringLiteral("PacketsPerSec"), PropertyValue::uint64(packets));
        counters.set(QStringLiteral("CurrentBandwidth"),
                     PropertyValue::uint64(speed > 0 ? quint64(speed) * kBitsPerMegabit : 0));
        counters.set(QStringLiteral("BytesTotalPerSec"), PropertyValue::uint64(received + sent));
        counters.set(QStringLiteral("BytesSentPerSec"), PropertyValue::uint64(sent));
        counters.set(QStringLiteral("BytesReceivedPerSec"), PropertyValue::uint64(received));
        instances.append(counters);
    }
    return true;
}
