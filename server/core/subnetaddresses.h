#pragma once

#include <QString>
#include <QStringList>

// The host addresses of a discovery range, network and broadcast address left out.
// mask is a prefix length ("24") or a dotted netmask; any 127.0.0.x range is the loopback
// address alone, a /32 is the address itself, and an unparsable range gives no address.
// Ranges wider than a /16 give no address either: they would be enumerated whole in memory
// and sent in one loop.
constexpr int kMinDiscoveryPrefix = 16;

QStringList subnetAddresses(const QString &netIp, const QString &mask);
