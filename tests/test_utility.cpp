#include "platform/errors.h"
#include "platform/paths.h"
#include "tests/fixtures/DesktopSession.h"
#include "tests/fixtures/EnvironmentD.h"
#include "tests/fixtures/TempEnv.h"
#include "utility/utility.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

platform::OSFacts Windows(int major, int minor, int build, int productType = 1, bool infoOk = true)
{
    platform::OSFacts f;
    f.windows = true;
    f.major = major;
    f.minor = minor;
    f.build = build;
    f.productInfoOk = infoOk;
    f.productType = quint32(productType);
    f.nativeIs64 = true;
    return f;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

TEST(OSVersionInfo, ProductAndCaptionByVersion)
{
    struct Row {
        int major, minor, build, type;
        bool r2;
        TOSProduct product;
        const char *caption;
    };
    const Row rows[] = {
        {4, 0, 1381, 1, false, osWinNT, "Microsoft Windows (NT 4.0)"},
        {4, 0, 1381, 7, false, osWinSvrNT, "Microsoft Windows (NT 4.0)"},
        {5, 0, 2195, 7, false, osWin2000, "Microsoft Windows 2000"},
        {5, 1, 2600, 1, false, osWinXP, "Microsoft Windows XP"},
        {5, 2, 3790, 1, true, osWinSvr2003R2, "Microsoft Windows (NT 5.2)"},
        {5, 2, 3790, 7, false, osWinSvr2003, "Microsoft Windows Server 2003"},
        {5, 2, 3790, 1, false, osWinXP, "Microsoft Windows XP"},
        {6, 0, 6002, 1, false, osWinVista, "Microsoft Windows Vista"},
        {6, 0, 6002, 8, false, osWinSvr2008, "Microsoft Windows Server 2008"},
        {6, 1, 7601, 1, false, osWin7, "Microsoft Windows 7"},
        {6, 1, 7601, 8, false, osWinSvr2008R2, "Microsoft Windows Server 2008 R2"},
        {6, 2, 9200, 1, false, osWin8, "Microsoft Windows 8"},
        {6, 2, 9200, 8, false, osWinSvr2012, "Microsoft Windows Server 2012"},
        {6, 3, 9600, 1, false, osWin8Point1, "Microsoft Windows 8.1"},
        {6, 3, 9600, 8, false, osWinSvr2012R2, "Microsoft Windows Server 2012 R2"},
        {6, 4, 9800, 1, false, osUnknown, "Microsoft Windows (NT 6.4)"},
        {10, 0, 19045, 101, false, osWin10, "Microsoft Windows 10"},
        {10, 0, 19045, 48, false, osWinSvr2019, "Microsoft Windows Server 2019"},
        {10, 0, 21999, 1, false, osWin10, "Microsoft Windows 10"},
        {10, 0, 22000, 1, false, osWin11, "Microsoft Windows 11"},
        {10, 0, 22631, 1, false, osWin11, "Microsoft Windows 11"},
        {10, 0, 14393, 7, false, osWinSvr2016, "Microsoft Windows Server 2016"},
        {10, 0, 17762, 7, false, osWinSvr2016, "Microsoft Windows Server 2016"},
        {10, 0, 17763, 7, false, osWinSvr2019, "Microsoft Windows Server 2019"},
        {10, 0, 20348, 7, false, osWinSvr2022, "Microsoft Windows Server 2022"},
        {10, 0, 26100, 7, false, osWinSvr2025, "Microsoft Windows Server 2025"},
        {10, 5, 26100, 1, false, osWin11, "Microsoft Windows 11"}, // minor not looked at
        {11, 0, 1, 1, false, osUnknown, "Microsoft Windows (NT 11.0)"},
        {3, 51, 1057, 1, false, osUnknown, "Microsoft Windows (NT 3.51)"},
    };
    for (const Row &r : rows) {
        platform::OSFacts f = Windows(r.major, r.minor, r.build, r.type);
        f.serverR2 = r.r2;
        const TOSVersionInfo info = OSVersionInfoFromFacts(f);
        SCOPED_TRACE(QStringLiteral("%1.%2.%3 type %4").arg(r.major).arg(r.minor).arg(r.build).arg(r.type).toStdString());
        EXPECT_EQ(info.OSProduct, r.product);
        EXPECT_EQ(info.Caption.toStdString(), r.caption);
        EXPECT_EQ(info.Version, QStringLiteral("%1.%2.%3").arg(r.major).arg(r.minor).arg(r.build));
        EXPECT_EQ(info.OSMajorNumber, r.major);
    }
}

TEST(OSVersionInfo, ServerTestByProductType)
{
    // Workstation types: 0-6 and 96-111; a failed query counts as a workstation.
    const struct {
        int type;
        bool infoOk;
        bool server;
    } rows[] = {{0, true, false}, {6, true, false}, {7, true, true}, {8, true, true}, {48, true, true},
                {95, true, true}, {96, true, false}, {101, true, false}, {111, true, false},
                {112, true, true}, {0x7FFF, true, true}, {48, false, false}};
    for (const auto &r : rows) {
        const TOSVersionInfo info = OSVersionInfoFromFacts(Windows(6, 1, 7601, r.type, r.infoOk));
        EXPECT_EQ(info.OSProduct, r.server ? osWinSvr2008R2 : osWin7) << "type " << r.type;
    }
}

TEST(OSVersionInfo, ArchitectureAndNonWindowsFacts)
{
    platform::OSFacts f = Windows(10, 0, 19045);
    EXPECT_EQ(OSVersionInfoFromFacts(f).OSArchitecture, "64-bit");
    f.nativeIs64 = false; // ARM64 and x86 alike
    EXPECT_EQ(OSVersionInfoFromFacts(f).OSArchitecture, "32-bit");

    platform::OSFacts linux;
    linux.major = 6;
    linux.minor = 1;
    linux.build = 0;
    linux.nativeCaption = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
    const TOSVersionInfo info = OSVersionInfoFromFacts(linux);
    EXPECT_EQ(info.OSProduct, osUnknown);
    EXPECT_EQ(info.Caption, linux.nativeCaption);
    EXPECT_EQ(info.Version, "6.1.0");

    const TOSVersionInfo here = GetOSVersionInfo();
    EXPECT_GE(here.OSMajorNumber, platform::MinimumSupportedMajor()); // this machine must be able to start
    EXPECT_FALSE(here.Caption.isEmpty());
}

TEST(AdapterReport, LinesByAnswer)
{
    EXPECT_EQ(AdapterReportLines(232, {}), QStringList{"No network adapter on the local computer."});
    EXPECT_EQ(AdapterReportLines(50, {}),
              QStringList{"GetAdaptersInfo is not supported by the operating system running on the local computer."});
    EXPECT_EQ(AdapterReportLines(111, {}), QStringList{"GetAdaptersInfo failed with error #111"});

    platform::AdapterInfo a;
    a.description = "Intel(R) Ethernet";
    a.name = "{GUID-1}";
    a.address = QByteArray::fromHex("001a2b3c4d5e");
    a.ipAddress = "192.0.2.10";
    a.ipMask = "255.255.255.0";
    a.gateway = "192.0.2.1";
    a.dhcpEnabled = true;
    a.dhcpServer = "192.0.2.2";
    a.primaryWins = "0.0.0.0";
    a.secondaryWins = "0.0.0.0";
    platform::AdapterInfo b;
    b.name = "second";

    const QStringList one = AdapterReportLines(0, {a});
    const QStringList expected{"Description: Intel(R) Ethernet", "Name: {GUID-1}", "MAC Address: 00-1A-2B-3C-4D-5E",
                               "IP Address: 192.0.2.10", "Subnet Mask: 255.255.255.0", "Gateway: 192.0.2.1",
                               "DHCP enabled: 1", "DHCP: 192.0.2.2", "Have WINS: False",
                               "Primary WINS: 0.0.0.0", "Secondary WINS: 0.0.0.0"};
    EXPECT_EQ(one, expected);

    const QStringList two = AdapterReportLines(0, {a, b});
    ASSERT_EQ(two.size(), 22);
    EXPECT_EQ(two[12], "Name: second");
    EXPECT_EQ(two[13], "MAC Address: "); // no hardware address

    QStringList live{"stale"};
    GetNetworkAdaptersReport(live);
    EXPECT_FALSE(live.contains("stale"));
    EXPECT_TRUE(live.size() == 1 || live.size() % 11 == 0);
}

TEST(AdapterReport, OrderPutsTheUsableAdapterFirst)
{
    auto rank = [](bool hardware, bool up, bool ipv4, int metric = -1, bool loopback = false) {
        platform::AdapterRank r;
        r.hardware = hardware;
        r.up = up;
        r.hasIpv4 = ipv4;
        r.defaultRouteMetric = metric;
        r.loopback = loopback;
        return r;
    };
    // As a container lists them: loopback, two idle virtual ones, then the real ones.
    const QList<platform::AdapterRank> ranks{
        rank(false, true, true, -1, true), // 0 lo
        rank(false, false, false),         // 1 ifb0: down, no address
        rank(false, true, true),           // 2 docker0: up, address, no route
        rank(true, true, true, 600),       // 3 wlan0: second default route
        rank(true, false, true, 50),       // 4 eth1: cable out; its route does not count
        rank(true, true, true, 100),       // 5 eth0: the default route
        rank(true, true, false),           // 6 eth2: up, no address
        rank(true, true, true),            // 7 eth3: up, address, no route
        rank(false, false, false),         // 8 ifb1
    };
    EXPECT_EQ(platform::AdapterReportOrder(ranks), (QList<qsizetype>{5, 3, 7, 2, 4, 6, 1, 8, 0}));
    EXPECT_TRUE(platform::AdapterReportOrder({}).isEmpty());
}

TEST(AdapterReport, DhcpLeasesOfEachClient)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    for (const char *folder : {"var/lib/dhcp", "run/systemd/netif/leases", "run/NetworkManager/devices"})
        QDir(root.path()).mkpath(folder);
    // dhclient appends: the last lease of an interface is in force, the older one is stale.
    WriteBytes(root.filePath("var/lib/dhcp/dhclient.leases"),
               "lease {\n  interface \"eth0\";\n  fixed-address 192.0.2.40;\n  option dhcp-server-identifier 192.0.2.1;\n}\n"
               "lease {\n  interface \"eth0\";\n  fixed-address 192.0.2.41;\n  option subnet-mask 255.255.255.0;\n"
               "  option dhcp-server-identifier 192.0.2.254;\n}\n"
               "lease {\n  interface \"wlan0\";\n  fixed-address 10.0.0.9;\n  option dhcp-server-identifier 10.0.0.1;\n}\n");
    WriteBytes(root.filePath("run/systemd/netif/leases/7"),
               "# This is private data. Do not parse.\nADDRESS=203.0.113.8\nSERVER_ADDRESS=203.0.113.1\n");
    WriteBytes(root.filePath("run/NetworkManager/devices/9"),
               "[device]\nmanaged=true\n\n[dhcp4]\ndhcp_server_identifier=198.51.100.1\nip_address=198.51.100.20\n");
    const auto server = [&root](const char *ifname, int index, const char *address) {
        const platform::DhcpLease lease = platform::FindDhcpLease(root.path(), ifname, index, address);
        return lease.found ? lease.server : QStringLiteral("<none>");
    };
    EXPECT_EQ(server("eth0", 2, "192.0.2.41"), "192.0.2.254");
    EXPECT_EQ(server("eth0", 2, "192.0.2.40"), "<none>");
    EXPECT_EQ(server("wlan0", 3, "10.0.0.9"), "10.0.0.1");
    EXPECT_EQ(server("ens7", 7, "203.0.113.8"), "203.0.113.1");
    EXPECT_EQ(server("enp1s0", 9, "198.51.100.20"), "198.51.100.1");
    EXPECT_EQ(server("ens8", 8, "203.0.113.8"), "<none>");
}

TEST(AdapterReport, WinsServersFromSambaGlobalSection)
{
    EXPECT_TRUE(platform::ParseWinsServers("").isEmpty());
    EXPECT_TRUE(platform::ParseWinsServers("[global]\n   workgroup = WORKGROUP\n;   wins server = w.x.y.z\n").isEmpty());
    EXPECT_EQ(platform::ParseWinsServers("[global]\n  WINS Server = 192.0.2.5, sales:192.0.2.6\n"),
              (QStringList{"192.0.2.5", "192.0.2.6"}));
    // A share's section has no say; a setting continued on the next line counts whole; the last one wins.
    EXPECT_EQ(platform::ParseWinsServers("wins server = 192.0.2.1\n[global]\nwinsserver = 192.0.2.7 \\\n  192.0.2.8\n"
                                         "[homes]\nwins server = 10.9.9.9\n"),
              (QStringList{"192.0.2.7", "192.0.2.8"}));
}

// A dummy interface for the live query; root only, removed again at the end.
class DummyInterface {
public:
    // Kernels without the dummy driver often have ifb, which behaves the same here.
    DummyInterface() { m_ok = Ip({"link", "add", Name, "type", "dummy"}) || Ip({"link", "add", Name, "type", "ifb"}); }
    ~DummyInterface()
    {
        if (m_ok)
            Ip({"link", "del", Name});
    }
    bool ok() const { return m_ok; }
    static bool Ip(const QStringList &args)
    {
        QProcess ip;
        ip.start("ip", args);
        return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    }
    static constexpr const char *Name = "fddummy0";

private:
    bool m_ok = false;
};

TEST(AdapterReport, LiveQueryOrdersAndFlagsAddresses)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a dummy interface needs root";
    DummyInterface dummy;
    if (!dummy.ok())
        GTEST_SKIP() << "no dummy interfaces here";
    auto find = [](const QList<platform::AdapterInfo> &list, const QString &name) {
        for (qsizetype i = 0; i < list.size(); ++i)
            if (list[i].name == name)
                return i;
        return qsizetype(-1);
    };

    // Virtual, down and without an address, and the newest interface: last but for loopback.
    QList<platform::AdapterInfo> adapters;
    ASSERT_EQ(platform::GetAdapters(adapters), 0u);
    const qsizetype down = find(adapters, DummyInterface::Name);
    ASSERT_GE(down, 0);
    EXPECT_EQ(adapters[down].ipAddress, "0.0.0.0");
    EXPECT_FALSE(adapters[down].dhcpEnabled);
    EXPECT_EQ(adapters.size() - down - 1, find(adapters, "lo") >= 0 ? 1 : 0);
    QFile routes("/proc/net/route");
    if (routes.open(QIODevice::ReadOnly) && routes.readAll().contains("\t00000000\t")) {
        EXPECT_NE(adapters.first().gateway, "0.0.0.0"); // the default route's adapter leads
    }

    // Up with an address that has a lifetime: counted as DHCP, and ahead of the idle ones.
    ASSERT_TRUE(DummyInterface::Ip({"link", "set", DummyInterface::Name, "up"}));
    ASSERT_TRUE(DummyInterface::Ip({"addr", "add", "198.51.100.7/24", "dev", DummyInterface::Name, "valid_lft", "300",
                                    "preferred_lft", "300"}));
    ASSERT_EQ(platform::GetAdapters(adapters), 0u);
    qsizetype up = find(adapters, DummyInterface::Name);
    ASSERT_GE(up, 0);
    EXPECT_EQ(adapters[up].ipAddress, "198.51.100.7");
    EXPECT_EQ(adapters[up].ipMask, "255.255.255.0");
    EXPECT_TRUE(adapters[up].dhcpEnabled);
    for (qsizetype i = 0; i < up; ++i)
        EXPECT_NE(adapters[i].ipAddress, "0.0.0.0") << adapters[i].name.toStdString();

    // The same address without a lifetime is a fixed one.
    ASSERT_TRUE(DummyInterface::Ip({"addr", "flush", "dev", DummyInterface::Name}));
    ASSERT_TRUE(DummyInterface::Ip({"addr", "add", "198.51.100.7/24", "dev", DummyInterface::Name}));
    ASSERT_EQ(platform::GetAdapters(adapters), 0u);
    up = find(adapters, DummyInterface::Name);
    ASSERT_GE(up, 0);
    EXPECT_FALSE(adapters[up].dhcpEnabled);
    EXPECT_EQ(adapters[up].haveWins, !platform::ParseWinsServers(ReadAll("/etc/samba/smb.conf")).isEmpty());
}

TEST(EnvironmentHelpers, ExtractUserName)
{
    EXPECT_EQ(ExtractUserName("alice@EXAMPLE.ORG"), "alice");
    EXPECT_EQ(ExtractUserName("a@b@c"), "a");
    EXPECT_EQ(ExtractUserName("@realm"), "");
    EXPECT_EQ(ExtractUserName("DOMAIN\\bob"), "DOMAIN\\bob");
    EXPECT_EQ(ExtractUserName(" bob "), " bob ");
    EXPECT_EQ(ExtractUserName(""), "");
}

TEST(EnvironmentHelpers, PersistentVariableReachesProcessChildAndStore)
{
    TempHome home;
    const QString store = home.configHome() + "/environment.d/60-tavrologin.conf";

    // A machine account name ends in "$"; the store must not expand it.
    SetPersistentEnvironmentVariable("TAVRO_TEST_VAR", "WS01$\\x", false);
    EXPECT_EQ(qgetenv("TAVRO_TEST_VAR"), "WS01$\\x");
    EXPECT_EQ(ReadAll(store), "TAVRO_TEST_VAR=\"WS01$$\\\\x\"\n");
    EXPECT_EQ(GeneratedVariable(home.path(), home.configHome(), "TAVRO_TEST_VAR"), "WS01$\\x");

    QProcess child;
    child.start("/bin/sh", {"-c", "printf %s \"$TAVRO_TEST_VAR\""});
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.readAllStandardOutput(), "WS01$\\x");

    // Other lines of the store survive; a second set replaces in place.
    WriteBytes(store, "OTHER=1\nTAVRO_TEST_VAR=old\nLAST=2\n");
    SetPersistentEnvironmentVariable("TAVRO_TEST_VAR", "bob", false);
    EXPECT_EQ(ReadAll(store), "OTHER=1\nTAVRO_TEST_VAR=\"bob\"\nLAST=2\n");

    DeletePersistentEnvironmentVariable("TAVRO_TEST_VAR", false);
    EXPECT_FALSE(qEnvironmentVariableIsSet("TAVRO_TEST_VAR"));
    EXPECT_EQ(ReadAll(store), "OTHER=1\nLAST=2\n");

    // Deleting what exists nowhere is silent.
    EXPECT_NO_THROW(DeletePersistentEnvironmentVariable("TAVRO_TEST_VAR", false));
    EXPECT_NO_THROW(DeletePersistentEnvironmentVariable("TAVRO_NEVER_SET", true));
}

// The user service manager hears of each change over the session bus, on a connection
// of its own that is closed again: no bus thread stays in the program after a logon.
TEST(EnvironmentHelpers, TheUserManagerHearsEachChangeAndNoBusThreadStays)
{
    QString error;
    ASSERT_TRUE(DesktopSession::start(&error)) << qPrintable(error);
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    TempHome home;
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address);
    QProcess manager;
    manager.start(TAVRO_TEST_HELPERS_DIR "/usermanager", QStringList());
    ASSERT_TRUE(manager.waitForReadyRead(10000));
    ASSERT_EQ(manager.readLine(), "ready\n");

    const auto threads = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    const qsizetype before = threads();
    SetPersistentEnvironmentVariable("TAVRO_TEST_VAR", "a b=c$d", false);
    DeletePersistentEnvironmentVariable("TAVRO_TEST_VAR", false);
    EXPECT_EQ(threads(), before);

    QByteArray heard = manager.readAll();
    while (heard.count('\n') < 2 && manager.waitForReadyRead(5000))
        heard += manager.readAll();
    EXPECT_EQ(heard, "SetEnvironment TAVRO_TEST_VAR=a b=c$d\nUnsetEnvironment TAVRO_TEST_VAR\n");
    manager.closeWriteChannel();
    EXPECT_TRUE(manager.waitForFinished(5000));
}

TEST(EnvironmentHelpers, EveryUserNameComesBackExactlyInTheNextSession)
{
    TempHome home;
    const QString store = home.configHome() + "/environment.d/60-tavrologin.conf";
    QDir().mkpath(home.configHome() + "/environment.d");
    WriteBytes(store, "OTHER=1\n");
    // Variables the generator could wrongly expand into a name.
    const QMap<QString, QString> bait{{"SECRETVAR", "leaked"}, {"X", "leaked"}, {"1x", "leaked"}};
    const QStringList names{
        "adm$1x", "${SECRETVAR}", "$SECRETVAR", "${X:-d}", "${X:+alt}", "$$", "WS01$", "$", "a\\b", "a\\",
        "\\$X", "\\\\server\\x", "a=b", "=", "o'brien", "'lead", "\"lead", "trail\"", "say \"hi\"", "`id`",
        " lead", "trail ", "  both  ", " ", "Jürgen", "Łukasz$", "用户", "#hash", ";semi", "a b",
    };
    for (const QString &name : names) {
        SCOPED_TRACE(qPrintable(name));
        SetPersistentEnvironmentVariable("TAVROLOGIN_USERNAME", name, false);
        QString error;
        const QMap<QString, QString> vars = GeneratedUserEnvironment(home.path(), home.configHome(), &error, bait);
        ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
        EXPECT_EQ(vars.value("TAVROLOGIN_USERNAME", "<unset>"), name);
        EXPECT_EQ(vars.value("OTHER"), "1"); // the line after it was not swallowed
    }

    // Line breaks and control characters are refused and nothing is written.
    SetPersistentEnvironmentVariable("TAVROLOGIN_USERNAME", "kept", false);
    const QByteArray before = ReadAll(store);
    for (const QString &bad : {QString("a\nb"), QString("a\rb"), QString("tab\tx"), QString("nul") + QChar(0),
                               QString("\x01"), QString("del\x7f"), QString(QChar(0x85)), QString(QChar(0x2028))}) {
        SCOPED_TRACE(qPrintable(bad.toUtf8().toHex()));
        try {
            SetPersistentEnvironmentVariable("TAVROLOGIN_USERNAME", bad, false);
            ADD_FAILURE() << "no error raised";
        } catch (const ERegistryException &e) {
            EXPECT_EQ(e.message(),
                      "Failed to set data for 'TAVROLOGIN_USERNAME': the value holds a line break or control character");
        }
        EXPECT_EQ(ReadAll(store), before);
    }
    EXPECT_EQ(GeneratedVariable(home.path(), home.configHome(), "TAVROLOGIN_USERNAME"), "kept");
    DeletePersistentEnvironmentVariable("TAVROLOGIN_USERNAME", false);
}

TEST(EnvironmentHelpers, MachineScopeWithoutStoreRaisesAfterSettingProcess)
{
    TempHome home;
    ScopedEnv env("TAVROLOGIN_MACHINE_ENVIRONMENT_D", QFile::encodeName(home.path() + "/no-such-folder"));
    try {
        SetPersistentEnvironmentVariable("TAVRO_MACHINE_VAR", "x", true);
        FAIL() << "no error raised";
    } catch (const ERegistryException &e) {
        EXPECT_EQ(e.message(), "Failed to set data for 'TAVRO_MACHINE_VAR'");
    }
    EXPECT_EQ(qgetenv("TAVRO_MACHINE_VAR"), "x");
    EXPECT_FALSE(QDir(home.path() + "/no-such-folder").exists());
    qunsetenv("TAVRO_MACHINE_VAR");
}

TEST(CopyFileContents, CopiesWholeFilesAndTruncates)
{
    QTemporaryDir dir;
    const QString src = dir.filePath("src"), dst = dir.filePath("dst");
    for (const int size : {0, 1, 4095, 4096, 4097, 10000, 1 << 20}) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + i / 4096);
        WriteBytes(src, bytes);
        WriteBytes(dst, QByteArray(size + 5000, 'x')); // longer, to be truncated
        EXPECT_TRUE(CopyFileContents(src, dst)) << size;
        EXPECT_EQ(ReadAll(dst), bytes) << size;
    }
}

TEST(CopyFileContents, Failures)
{
    QTemporaryDir dir;
    const QString src = dir.filePath("src");
    WriteBytes(src, "data");

    try {
        CopyFileContents(dir.filePath("missing"), dir.filePath("dst"));
        FAIL() << "no error raised";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode, 2);
        EXPECT_EQ(e.message(), "File not found");
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("dst")));

    // The destination cannot be created: False, no error.
    EXPECT_FALSE(CopyFileContents(src, dir.filePath("no/such/folder/dst")));
    EXPECT_FALSE(CopyFileContents(src, src + "/below-a-file"));

    const QString longName = dir.filePath(QString(300, 'a'));
    EXPECT_THROW(CopyFileContents(src, longName), EInOutError);
    EXPECT_THROW(CopyFileContents(longName, dir.filePath("dst")), EInOutError);
}

// A source that gives FAILAFTER bytes and then fails, as a server gone mid-copy does.
class BreakingSource : public QIODevice {
public:
    explicit BreakingSource(qint64 failAfter) : m_left(failAfter) { open(QIODevice::ReadOnly); }
protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (m_left <= 0) {
            setErrorString("The connection was reset");
            return -1;
        }
        const qint64 n = qMin(max, m_left);
        memset(data, 'x', size_t(n));
        m_left -= n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }
private:
    qint64 m_left;
};

TEST(CopyFileContents, ACopyBrokenOffLandsNotAtAll)
{
    QTemporaryDir dir;
    const QString dst = dir.filePath("LOGON.BAT");
    for (const bool stale : {false, true}) {
        SCOPED_TRACE(stale);
        if (stale)
            WriteBytes(dst, "old copy");
        BreakingSource source(10000);
        try {
            CopyFileContents(source, dst);
            ADD_FAILURE() << "no error raised";
        } catch (const EInOutError &e) {
            EXPECT_EQ(e.message(), "The connection was reset");
        }
        EXPECT_EQ(ReadAll(dst), stale ? QByteArray("old copy") : QByteArray("<missing>"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), stale ? QStringList{"LOGON.BAT"} : QStringList{});
    }

    // A disk that fills up midway: the same, through the path form (in a child, for its file size limit).
    const QString src = dir.filePath("big");
    WriteBytes(src, QByteArray(100000, 'y'));
    const QString fresh = dir.filePath("fresh.bat");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20000, 20000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int code = 0;
        try {
            code = CopyFileContents(src, fresh) ? 1 : 2;
        } catch (const EInOutError &) {
            code = 3;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 1) << "a copy cut short was reported whole";
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList{"LOGON.BAT", "big"}));
}

TEST(SystemInfo, FoldersAndPaths)
{
    TempHome home;
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), home.commonAppData());
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA), home.dataHome());
    {
        ScopedEnv env("XDG_DATA_HOME", QFile::encodeName(home.dataHome() + "//"));
        EXPECT_EQ(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA), home.dataHome()); // no trailing delimiter
        env.unset("XDG_DATA_HOME");
        EXPECT_EQ(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA), home.path() + "/.local/share");
        env.unset("TAVROLOGIN_COMMON_APPDATA");
        EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), "/var/lib");
    }
    EXPECT_EQ(GetSpecialFolderPath(12345), "");

    const QString app = QCoreApplication::applicationDirPath() + "/";
    EXPECT_EQ(GetAppFolder(), app);
    EXPECT_EQ(platform::ExtractFilePath("/opt/Client/client"), "/opt/Client/");
    EXPECT_EQ(platform::ExtractFileName("/opt/Client/client"), "client");
    EXPECT_EQ(platform::ExtractFileName("C:client"), "client");
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter("/opt"), "/opt/");
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter("/opt/"), "/opt/");
    EXPECT_FALSE(GetLocalComputerName().isEmpty());
}

TEST(SystemInfo, VersionNumbersReadBackFromFiles)
{
    const QString version = TAVRO_PROJECT_VERSION;
    EXPECT_EQ(GetExeVersion(), version);
    EXPECT_EQ(GetFileVersionString(QCoreApplication::applicationFilePath()), version.section('.', 0, 2));

    QTemporaryDir dir;
    WriteBytes(dir.filePath("plain"), QByteArray(100000, 'T'));
    EXPECT_EQ(GetFileVersionString(dir.filePath("plain")), "0.0.0");
    EXPECT_EQ(GetFileVersionString(dir.filePath("missing")), "0.0.0");
    EXPECT_EQ(GetFileVersionString(dir.path()), "0.0.0");

    // A copy of a program carries its version wherever it lies.
    const QString copy = dir.filePath("renamed");
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    EXPECT_EQ(GetFileVersionString(copy), version.section('.', 0, 2));
}

TEST(SystemInfo, RemoteSessionAndAdministrator)
{
    ScopedEnv env;
    for (const char *name : {"SSH_CONNECTION", "SSH_CLIENT", "XRDP_SESSION"})
        env.unset(name);
    env.set("DISPLAY", ":0");
    EXPECT_FALSE(IsRemoteSession());
    env.set("DISPLAY", "otherhost:10.0");
    EXPECT_TRUE(IsRemoteSession());
    env.set("DISPLAY", "unix:0");
    EXPECT_FALSE(IsRemoteSession());
    env.set("SSH_CONNECTION", "192.0.2.1 5000 192.0.2.2 22");
    EXPECT_TRUE(IsRemoteSession());

    if (::geteuid() == 0) {
        EXPECT_TRUE(IsAdministrator());
    }
    (void)GetIdleMilliseconds(); // answers without a display
}
