#include "platform/sysinfo.h"

#include "platform/waylandidle_p.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QSet>

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#ifdef TAVRO_HAVE_XSS
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include "platform/lazylibrary.h"
#endif

namespace platform {

namespace {

QString ReadFirstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readLine()).trimmed();
}

QByteArray ReadSmall(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(1 << 20);
}

QString OsReleaseName()
{
    QFile f(QStringLiteral("/etc/os-release"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("Linux");
    QString name;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        QString value = line.mid(eq + 1);
        if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))))
            value = value.mid(1, value.size() - 2);
        const QString key = line.left(eq);
        if (key == QLatin1String("PRETTY_NAME"))
            return value;
        if (key == QLatin1String("NAME") && name.isEmpty())
            name = value;
    }
    return name.isEmpty() ? QStringLiteral("Linux") : name;
}

OSFacts ReadOSFacts()
{
    OSFacts facts;
    struct utsname u {};
    if (::uname(&u) == 0) {
        // "6.1.0-28-amd64": major, minor and the third number as the build.
        const QStringList parts = QString::fromLatin1(u.release).section(QLatin1Char('-'), 0, 0).split(QLatin1Char('.'));
        facts.major = parts.value(0).toInt();
        facts.minor = parts.value(1).toInt();
        facts.build = parts.value(2).toInt();
        const QByteArray machine(u.machine);
        facts.nativeIs64 = machine == "x86_64" || machine == "amd64";
    }
    facts.nativeCaption = OsReleaseName();
    return facts;
}

QString HomeFolder()
{
    const QByteArray home = qgetenv("HOME");
    return home.isEmpty() ? QDir::homePath() : QFile::decodeName(home);
}

QString Ipv4Text(const sockaddr *sa)
{
    if (!sa || sa->sa_family != AF_INET)
        return QStringLiteral("0.0.0.0");
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

struct DefaultRoute {
    QString gateway;
    int metric = -1;
};

// Default routes by interface, from the kernel's routing table; the lowest metric counts.
QHash<QString, DefaultRoute> DefaultRoutes()
{
    QHash<QString, DefaultRoute> result;
    QFile f(QStringLiteral("/proc/net/route"));
    if (!f.open(QIODevice::ReadOnly))
        return result;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QStringList cols = QString::fromLatin1(f.readLine()).split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        if (cols.size() < 7 || cols[1] != QLatin1String("00000000"))
            continue;
        bool ok = false, metricOk = false;
        const quint32 gw = cols[2].toUInt(&ok, 16); // network order, printed as host-endian hex
        const int metric = cols[6].toInt(&metricOk);
        if (!ok || !metricOk || (result.contains(cols[0]) && result[cols[0]].metric <= metric))
            continue;
        in_addr addr {};
        addr.s_addr = gw;
        char buf[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &addr, buf, sizeof buf);
        result.insert(cols[0], DefaultRoute{QString::fromLatin1(buf), metric});
    }
    return result;
}

// IPv4 addresses (by interface index) that the kernel holds without IFA_F_PERMANENT: they
// were given a lifetime, which is what DHCP clients do.
QSet<QPair<int, quint32>> DynamicAddresses()
{
    QSet<QPair<int, quint32>> result;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return result;
    const timeval timeout {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct {
        nlmsghdr header;
        ifaddrmsg body;
    } request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ifa_family = AF_INET;
    if (::send(fd, &request, sizeof request, 0) < 0) {
        ::close(fd);
        return result;
    }
    alignas(nlmsghdr) char buffer[16384];
    for (bool done = false; !done;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        int left = int(got);
        for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWADDR)
                continue;
            const auto *ifa = static_cast<const ifaddrmsg *>(NLMSG_DATA(h));
            quint32 flags = ifa->ifa_flags, local = 0;
            bool haveLocal = false;
            int attrLeft = int(IFA_PAYLOAD(h));
            for (auto *rta = IFA_RTA(ifa); RTA_OK(rta, attrLeft); rta = RTA_NEXT(rta, attrLeft)) {
                if (rta->rta_type == IFA_FLAGS && RTA_PAYLOAD(rta) >= sizeof(quint32))
                    std::memcpy(&flags, RTA_DATA(rta), sizeof flags);
                else if ((rta->rta_type == IFA_LOCAL || (rta->rta_type == IFA_ADDRESS && !haveLocal))
                         && RTA_PAYLOAD(rta) >= sizeof local) {
                    std::memcpy(&local, RTA_DATA(rta), sizeof local);
                    haveLocal = rta->rta_type == IFA_LOCAL || haveLocal;
                }
            }
            if (!(flags & IFA_F_PERMANENT))
                result.insert({int(ifa->ifa_index), local});
        }
    }
    ::close(fd);
    return result;
}

QByteArray HardwareAddress(const QString &ifname)
{
    const QString text = ReadFirstLine(QStringLiteral("/sys/class/net/%1/address").arg(ifname));
    QByteArray bytes;
    for (const QString &part : text.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint v = part.toUInt(&ok, 16);
        if (!ok)
            return QByteArray();
        bytes.append(char(v));
    }
    return bytes;
}

QString AdapterDescription(const QString &ifname)
{
    const QString driver = QFileInfo(QStringLiteral("/sys/class/net/%1/device/driver").arg(ifname)).symLinkTarget();
    if (!driver.isEmpty())
        return QStringLiteral("%1 (%2)").arg(ifname, QFileInfo(driver).fileName());
    return ifname;
}

} // namespace

const OSFacts &GetOSFacts()
{
    static const OSFacts facts = ReadOSFacts();
    return facts;
}

int MinimumSupportedMajor()
{
    // Kernels before 5 lack what the process waits rely on.
    return 5;
}

QString SpecialFolderPath(int csidl)
{
    QString path;
    switch (csidl) {
    case 28: { // the user's local application data
        const QByteArray xdg = qgetenv("XDG_DATA_HOME");
        path = xdg.isEmpty() ? HomeFolder() + QStringLiteral("/.local/share") : QFile::decodeName(xdg);
        break;
    }
    case 26: { // the user's roaming application data
        const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
        path = xdg.isEmpty() ? HomeFolder() + QStringLiteral("/.config") : QFile::decodeName(xdg);
        break;
    }
    case 35: { // application data shared by all users
        const QByteArray common = qgetenv("TAVROLOGIN_COMMON_APPDATA");
        path = common.isEmpty() ? QStringLiteral("/var/lib") : QFile::decodeName(common);
        break;
    }
    default:
        return QString();
    }
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.left(261);
}

QString ComputerName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return QString();
    return QString::fromLocal8Bit(buf);
}

quint32 GetAdapters(QList<AdapterInfo> &adapters)
{
    adapters.clear();
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return 50;
    std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> guard(list, &::freeifaddrs);
    const QHash<QString, DefaultRoute> routes = DefaultRoutes();
    const QSet<QPair<int, quint32>> dynamic = DynamicAddresses();
    const QStringList wins = ParseWinsServers(ReadSmall(QStringLiteral("/etc/samba/smb.conf")));

    // One adapter per interface, in the order the system lists them; the first IPv4 address counts.
    const QString none = QStringLiteral("0.0.0.0");
    QList<AdapterInfo> found;
    QList<AdapterRank> ranks;
    QList<quint32> ipv4;
    QHash<QString, qsizetype> byName;
    for (ifaddrs *ifa = list; ifa; ifa = ifa->ifa_next) {
        const QString name = QString::fromLocal8Bit(ifa->ifa_name);
        if (!byName.contains(name)) {
            AdapterInfo info;
            info.name = name;
            info.description = AdapterDescription(name);
            info.address = HardwareAddress(name);
            info.ipAddress = info.ipMask = info.dhcpServer = info.primaryWins = info.secondaryWins = none;
            info.gateway = routes.value(name).gateway;
            if (info.gateway.isEmpty())
                info.gateway = none;
            AdapterRank rank;
            rank.loopback = ifa->ifa_flags & IFF_LOOPBACK;
            rank.up = (ifa->ifa_flags & IFF_UP) && (ifa->ifa_flags & IFF_RUNNING);
            rank.hardware = QFileInfo::exists(QStringLiteral("/sys/class/net/%1/device").arg(name));
            rank.defaultRouteMetric = routes.value(name).metric;
            byName.insert(name, found.size());
            found.append(info);
            ranks.append(rank);
            ipv4.append(0);
        }
        const qsizetype i = byName.value(name);
        if (ifa->ifa_addr && ifa->ifa_addr->sa_family == AF_INET && !ranks[i].hasIpv4) {
            ranks[i].hasIpv4 = true;
            ipv4[i] = reinterpret_cast<const sockaddr_in *>(ifa->ifa_addr)->sin_addr.s_addr;
            found[i].ipAddress = Ipv4Text(ifa->ifa_addr);
            found[i].ipMask = Ipv4Text(ifa->ifa_netmask);
        }
    }
    if (found.isEmpty())
        return 232;

    for (qsizetype i = 0; i < found.size(); ++i) {
        AdapterInfo &info = found[i];
        if (!ranks[i].hasIpv4 || ranks[i].loopback)
            continue;
        // A lifetime on the address or a client's lease for it means DHCP; only a lease
        // names the server.
        const int index = int(::if_nametoindex(info.name.toLocal8Bit().constData()));
        const DhcpLease lease = FindDhcpLease(QStringLiteral("/"), info.name, index, info.ipAddress);
        info.dhcpEnabled = lease.found || dynamic.contains({index, ipv4[i]});
        if (!lease.server.isEmpty())
            info.dhcpServer = lease.server;
        // Samba's WINS servers are the machine's; Windows shows them on every adapter.
        info.haveWins = !wins.isEmpty();
        info.primaryWins = wins.value(0, none);
        info.secondaryWins = wins.value(1, none);
    }
    for (const qsizetype i : AdapterReportOrder(ranks))
        adapters.append(found[i]);
    return 0;
}

namespace {

bool WaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

// The compositor's own idle time over the session bus: GNOME's idle monitor, then the
// screen-saver interface that KDE answers (in milliseconds, as KDE gives it).
std::optional<quint32> CompositorIdle()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    const QDBusMessage gnome = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
    if (const QDBusReply<quint64> reply = bus.call(gnome, QDBus::Block, 200); reply.isValid())
        return quint32(std::min<quint64>(reply.value(), std::numeric_limits<quint32>::max()));
    const QDBusMessage kde = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("GetSessionIdleTime"));
    if (const QDBusReply<quint32> reply = bus.call(kde, QDBus::Block, 200); reply.isValid())
        return reply.value();
    return std::nullopt;
}

#ifdef TAVRO_HAVE_XSS
// Asked only while a user is logged on: not loaded with the program.
#define TAVRO_XSS_FUNCTIONS(X) X(XScreenSaverQueryExtension) X(XScreenSaverQueryInfo)
TAVRO_LAZY_LIBRARY(XssLibrary, Xss, "libXss.so.1", TAVRO_XSS_FUNCTIONS)

std::optional<quint32> X11Idle()
{
    // One display connection for the run: the idle timer asks every second.
    static Display *display = [] {
        return qEnvironmentVariableIsEmpty("DISPLAY") || !Xss().loaded ? nullptr : XOpenDisplay(nullptr);
    }();
    if (!display)
        return std::nullopt;
    int eventBase = 0, errorBase = 0;
    static const bool hasExtension = Xss().XScreenSaverQueryExtension(display, &eventBase, &errorBase);
    XScreenSaverInfo info {};
    if (hasExtension && Xss().XScreenSaverQueryInfo(display, DefaultRootWindow(display), &info))
        return quint32(info.idle);
    return std::nullopt;
}
#endif

std::optional<quint32> IdleSource()
{
    // Under Wayland an X11 server (XWayland) sees only input to X11 windows: an active
    // user would look idle. There only the compositor is asked: over the session bus, else
    // through the idle and resume events it pushes (KWin, wlroots).
    if (WaylandSession()) {
        if (const std::optional<quint32> idle = CompositorIdle())
            return idle;
        return WaylandNotifiedIdle();
    }
#ifdef TAVRO_HAVE_XSS
    return X11Idle();
#else
    return std::nullopt;
#endif
}

} // namespace

quint32 IdleMilliseconds()
{
    return IdleSource().value_or(0); // no source: keeps the user logged on
}

bool IdleTimeAvailable()
{
    return IdleSource().has_value();
}

bool IsRemoteSession()
{
    if (!qEnvironmentVariableIsEmpty("SSH_CONNECTION") || !qEnvironmentVariableIsEmpty("SSH_CLIENT")
        || !qEnvironmentVariableIsEmpty("XRDP_SESSION"))
        return true;
    // A display on another host ("host:0"), not a local socket (":0", "unix:0").
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString host = display.section(QLatin1Char(':'), 0, 0);
    return !host.isEmpty() && host != QLatin1String("unix") && host != QLatin1String("localhost")
           && !host.startsWith(QLatin1Char('/'));
}

bool IsAdministrator()
{
    if (::geteuid() == 0)
        return true;
    // Membership counts, whether or not the rights are in use right now.
    std::vector<gid_t> groups(size_t(qMax(0, ::getgroups(0, nullptr))) + 1);
    const int n = ::getgroups(int(groups.size()), groups.data());
    for (const char *name : {"sudo", "wheel", "admin"}) {
        const group *g = ::getgrnam(name);
        if (!g)
            continue;
        if (::getegid() == g->gr_gid)
            return true;
        for (int i = 0; i < n; ++i)
            if (groups[size_t(i)] == g->gr_gid)
                return true;
    }
    return false;
}

} // namespace platform
