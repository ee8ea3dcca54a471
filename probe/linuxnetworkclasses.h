#pragma once

#include "managementobject.h"

#include <QVector>

// Network interfaces of /sys/class/net, their addresses and gateways, DHCP leases and the
// traffic rates from two samples of the interface statistics.
class INVPROBE_EXPORT LinuxNetworkClasses
{
public:
    // Default gateways per interface from /proc/net/route and /proc/net/ipv6_route text.
    static QHash<QString, QStringList> parseIpv4Gateways(const QString &routeText);
    static QHash<QString, QStringList> parseIpv6Gateways(const QString &routeText);
    // Interface connection status of an operstate (2 connected, 7 media disconnected, ...).
    static qint32 connectionStatus(const QString &operstate, bool carrier);

    static bool adapters(QVector<ManagementObject> &instances);
    static bool configurations(QVector<ManagementObject> &instances);
    static bool interfaceCounters(QVector<ManagementObject> &instances);
};
