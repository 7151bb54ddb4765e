#include "platform/sysinfo.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <arpa/inet.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <memory>
#include <vector>

#ifdef TAVRO_HAVE_XSS
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
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

// Default gateways by interface, from the kernel's routing table.
QHash<QString, QString> DefaultGateways()
{
    QHash<QString, QString> result;
    QFile f(QStringLiteral("/proc/net/route"));
    if (!f.open(QIODevice::ReadOnly))
        return result;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QStringList cols = QString::fromLatin1(f.readLine()).split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        if (cols.size() < 3 || cols[1] != QLatin1String("00000000"))
            continue;
        bool ok = false;
        const quint32 gw = cols[2].toUInt(&ok, 16); // network order, printed as host-endian hex
        if (!ok || result.contains(cols[0]))
            continue;
        in_addr addr {};
        addr.s_addr = gw;
        char buf[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &addr, buf, sizeof buf);
        result.insert(cols[0], QString::fromLatin1(buf));
    }
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
    const QHash<QString, QString> gateways = DefaultGateways();

    // One adapter per interface, in the order the system lists them; the first IPv4 address counts.
    QList<QString> order;
    QHash<QString, AdapterInfo> byName;
    for (ifaddrs *ifa = list; ifa; ifa = ifa->ifa_next) {
        if (ifa->ifa_flags & IFF_LOOPBACK)
            continue;
        const QString name = QString::fromLocal8Bit(ifa->ifa_name);
        if (!byName.contains(name)) {
            AdapterInfo info;
            info.name = name;
            info.description = AdapterDescription(name);
            info.address = HardwareAddress(name);
            info.ipAddress = info.ipMask = info.dhcpServer = info.primaryWins = info.secondaryWins =
                QStringLiteral("0.0.0.0");
            info.gateway = gateways.value(name, QStringLiteral("0.0.0.0"));
            byName.insert(name, info);
            order.append(name);
        }
        AdapterInfo &info = byName[name];
        if (ifa->ifa_addr && ifa->ifa_addr->sa_family == AF_INET && info.ipAddress == QLatin1String("0.0.0.0")) {
            info.ipAddress = Ipv4Text(ifa->ifa_addr);
            info.ipMask = Ipv4Text(ifa->ifa_netmask);
        }
    }
    if (order.isEmpty())
        return 232;
    for (const QString &name : order)
        adapters.append(byName.value(name));
    return 0;
}

quint32 IdleMilliseconds()
{
#ifdef TAVRO_HAVE_XSS
    // One display connection for the run: the idle timer asks every second.
    static Display *display = [] { return qEnvironmentVariableIsEmpty("DISPLAY") ? nullptr : XOpenDisplay(nullptr); }();
    if (display) {
        int eventBase = 0, errorBase = 0;
        static const bool hasExtension = XScreenSaverQueryExtension(display, &eventBase, &errorBase);
        if (hasExtension) {
            XScreenSaverInfo info {};
            if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), &info))
                return quint32(info.idle);
        }
    }
#endif
    // GNOME on Wayland answers over the session bus.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            const QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
                QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
            const QDBusReply<quint64> reply = bus.call(call, QDBus::Block, 200);
            if (reply.isValid())
                return quint32(reply.value());
        }
    }
    return 0; // no source: keeps the user logged on
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
