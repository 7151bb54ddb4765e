#include "platform/sysinfo.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

// The parts of the adapter report that are rules on plain data: the order of the
// adapters and what DHCP clients and Samba's configuration say about them.
namespace platform {

namespace {

int Group(const AdapterRank &r)
{
    if (r.loopback)
        return 5;
    if (r.up && r.hasIpv4) {
        if (r.defaultRouteMetric >= 0)
            return 0;
        return r.hardware ? 1 : 2;
    }
    return r.hardware ? 3 : 4;
}

QString Unquoted(QString s)
{
    s = s.trimmed();
    if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"')
        s = s.mid(1, s.size() - 2);
    return s;
}

// dhclient appends a block for every lease it gets, so the last one for the interface is
// the one in force.
DhcpLease ParseDhclientLeases(const QString &text, const QString &ifname)
{
    DhcpLease result, current;
    QString currentInterface;
    bool inLease = false;
    for (QString line : text.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'#'))
            continue;
        if (!inLease) {
            if (line.startsWith(QLatin1String("lease")) && line.endsWith(u'{')) {
                inLease = true;
                current = DhcpLease();
                currentInterface.clear();
            }
            continue;
        }
        if (line.startsWith(u'}')) {
            inLease = false;
            if (currentInterface.isEmpty() || currentInterface == ifname) {
                result = current;
                result.found = true;
            }
            continue;
        }
        if (line.endsWith(u';'))
            line.chop(1);
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (words.size() < 2)
            continue;
        if (words[0] == QLatin1String("interface"))
            currentInterface = Unquoted(words[1]);
        else if (words[0] == QLatin1String("fixed-address"))
            current.address = words[1];
        else if (words.size() >= 3 && words[0] == QLatin1String("option")
                 && words[1] == QLatin1String("dhcp-server-identifier"))
            current.server = words[2];
    }
    return result;
}

QByteArray ReadSmall(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(1 << 20);
}

} // namespace

QList<qsizetype> AdapterReportOrder(const QList<AdapterRank> &ranks)
{
    QList<qsizetype> order(ranks.size());
    for (qsizetype i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&ranks](qsizetype a, qsizetype b) {
        const int ga = Group(ranks[a]), gb = Group(ranks[b]);
        if (ga != gb)
            return ga < gb;
        return ga == 0 && ranks[a].defaultRouteMetric < ranks[b].defaultRouteMetric;
    });
    return order;
}

DhcpLease ParseDhcpLease(const QByteArray &text, const QString &ifname)
{
    const QString all = QString::fromUtf8(text);
    if (all.contains(QRegularExpression(QStringLiteral("(^|\\n)\\s*lease\\s*\\{"))))
        return ParseDhclientLeases(all, ifname);
    // systemd-networkd's lease (ADDRESS, SERVER_ADDRESS), NetworkManager's internal lease
    // and the [dhcp4] group of its device state (ip_address, dhcp_server_identifier).
    DhcpLease lease;
    for (const QString &raw : all.split(u'\n')) {
        const QString line = raw.trimmed();
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || line.startsWith(u'#'))
            continue;
        const QString key = line.left(eq).trimmed(), value = Unquoted(line.mid(eq + 1));
        if (key == QLatin1String("ADDRESS") || key == QLatin1String("ip_address"))
            lease.address = value;
        else if (key == QLatin1String("SERVER_ADDRESS") || key == QLatin1String("dhcp_server_identifier"))
            lease.server = value;
    }
    lease.found = !lease.address.isEmpty() || !lease.server.isEmpty();
    return lease;
}

DhcpLease FindDhcpLease(const QString &root, const QString &ifname, int ifindex, const QString &address)
{
    const QDir top(root);
    QStringList candidates{top.filePath(QStringLiteral("run/systemd/netif/leases/%1").arg(ifindex)),
                           top.filePath(QStringLiteral("run/NetworkManager/devices/%1").arg(ifindex))};
    const auto addFolder = [&](const QString &folder, const QStringList &masks) {
        const QDir dir(top.filePath(folder));
        for (const QString &name : dir.entryList(masks, QDir::Files, QDir::Name))
            candidates.append(dir.filePath(name));
    };
    addFolder(QStringLiteral("var/lib/NetworkManager"), {QStringLiteral("*-%1.lease").arg(ifname)});
    addFolder(QStringLiteral("var/lib/dhcp"), {QStringLiteral("*.leases"), QStringLiteral("*.lease")});
    addFolder(QStringLiteral("var/lib/dhclient"), {QStringLiteral("*.leases"), QStringLiteral("*.lease")});
    for (const QString &path : candidates) {
        const DhcpLease lease = ParseDhcpLease(ReadSmall(path), ifname);
        if (lease.found && (lease.address.isEmpty() || lease.address == address))
            return lease;
    }
    return DhcpLease();
}

QStringList ParseWinsServers(const QByteArray &smbConf)
{
    QStringList servers;
    bool global = true; // parameters before the first section are global ones
    QString pending;
    for (const QByteArray &raw : smbConf.split('\n')) {
        QString line = pending + QString::fromUtf8(raw).trimmed();
        pending.clear();
        if (line.endsWith(u'\\')) { // continued on the next line
            line.chop(1);
            pending = line + u' ';
            continue;
        }
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            global = line.mid(1, close < 0 ? -1 : close - 1).trimmed().compare(QLatin1String("global"),
                                                                                Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!global || eq < 0)
            continue;
        // Samba ignores case and blanks in parameter names.
        if (line.left(eq).remove(QRegularExpression(QStringLiteral("\\s"))).toLower() != QLatin1String("winsserver"))
            continue;
        servers.clear(); // a later setting replaces an earlier one
        const QStringList words = line.mid(eq + 1).split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
        for (const QString &word : words) {
            // "tag:address" groups servers for Samba; the address is what counts here.
            const QString addr = word.section(u':', -1);
            if (!addr.isEmpty())
                servers.append(addr);
        }
    }
    return servers;
}

} // namespace platform
