#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QString>

namespace platform {

// The facts the OS identification works on, gathered once at start.
struct OSFacts {
    bool windows = false;       // the product table applies only to Windows
    int major = 0, minor = 0, build = 0;
    bool nativeIs64 = false;    // native processor architecture is x64
    bool productInfoOk = false; // product type query succeeded
    quint32 productType = 0;
    bool serverR2 = false;      // SM_SERVERR2 (asked only for 5.2)
    QString nativeCaption;      // the system's own name off Windows
};
const OSFacts &GetOSFacts();
// Lowest major version number the client starts on.
int MinimumSupportedMajor();

// Special folders by CSIDL; empty when unknown. No trailing delimiter, not created.
QString SpecialFolderPath(int csidl);

QString ComputerName();

struct AdapterInfo {
    QString description, name;
    QByteArray address; // hardware address bytes
    QString ipAddress, ipMask, gateway;
    bool dhcpEnabled = false;
    QString dhcpServer;
    bool haveWins = false;
    QString primaryWins, secondaryWins;
};
// 0 on success, else a Windows-style code (232 = no adapters, 50 = not supported).
// Adapters come in Windows' order: the system's own there, AdapterReportOrder's elsewhere.
quint32 GetAdapters(QList<AdapterInfo> &adapters);

// What decides an adapter's place in the report.
struct AdapterRank {
    bool loopback = false;
    bool up = false;       // administratively up and with a carrier
    bool hardware = false; // backed by a device, not a virtual interface
    bool hasIpv4 = false;
    int defaultRouteMetric = -1; // lowest metric of a default route through it; -1 for none
};
// Indices into RANKS in the order Windows' adapter query lists them: usable adapters
// (up, with an IPv4 address) first, the default route's first of all (lowest metric
// first), devices before virtual interfaces; then those down or without an address,
// devices first; loopback last. The system's own order breaks ties.
QList<qsizetype> AdapterReportOrder(const QList<AdapterRank> &ranks);

// What a DHCP client recorded for one interface.
struct DhcpLease {
    bool found = false;
    QString address, server; // empty when the lease does not say
};
// Reads a lease in the formats of dhclient ("lease { ... }" blocks, the last one for
// IFNAME wins), systemd-networkd and NetworkManager (KEY=VALUE lines).
DhcpLease ParseDhcpLease(const QByteArray &text, const QString &ifname);
// The lease of the interface, looked up below ROOT ("/" on a live system). A lease whose
// address is not ADDRESS is an old one and does not count.
DhcpLease FindDhcpLease(const QString &root, const QString &ifname, int ifindex, const QString &address);
// The "wins server" addresses of smb.conf's global section, in order.
QStringList ParseWinsServers(const QByteArray &smbConf);

// Milliseconds since the last keyboard or mouse input; 0 when no source answers.
quint32 IdleMilliseconds();
// Whether this desktop reports an idle time at all (X11's screen saver, or under Wayland the
// compositor: over the session bus or through ext-idle-notify).
bool IdleTimeAvailable();
bool IsRemoteSession();
bool IsAdministrator();

} // namespace platform
