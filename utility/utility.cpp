#include "utility/utility.h"

#include "platform/envstore.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/version.h"

#include <QFile>
#include <QSaveFile>

const QString ApplicationTitle = QStringLiteral("Tavro Login");

// Environment variables and file helpers

QString ExtractUserName(const QString &name)
{
    const auto at = name.indexOf(QLatin1Char('@'));
    return at < 0 ? name : name.left(at);
}

void SetPersistentEnvironmentVariable(const QString &name, const QString &value, bool machineWide)
{
    platform::SetProcessVariable(name, value);
    if (const QString problem = platform::EnvironmentValueProblem(value); !problem.isEmpty())
        throw ERegistryException(QStringLiteral("Failed to set data for '%1': %2").arg(name, problem));
    if (!platform::StoreEnvironmentVariable(machineWide, name, value))
        throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
    platform::BroadcastEnvironmentChange(name, &value);
}

void DeletePersistentEnvironmentVariable(const QString &name, bool machineWide)
{
    platform::UnsetProcessVariable(name);
    platform::RemoveEnvironmentVariable(machineWide, name);
    platform::BroadcastEnvironmentChange(name, nullptr);
}

bool CopyFileContents(const QString &source, const QString &destination)
{
    std::unique_ptr<QIODevice> in = OpenCopySource(source, destination);
    return CopyFileContents(*in, destination);
}

std::unique_ptr<QIODevice> OpenCopySource(const QString &source, const QString &destination)
{
    // Windows refuses paths of MAX_PATH and more; keep the same limit everywhere.
    constexpr qsizetype MaxPath = 259;
    for (const QString *path : {&source, &destination}) {
        if (path->size() > MaxPath)
            throw EInOutError(3, platform::InOutErrorText(3));
    }
    return platform::OpenReadStream(source);
}

bool CopyFileContents(QIODevice &in, const QString &destination)
{
    // The copy lands whole or not at all: it is written beside the destination and renamed
    // over it at the end, so a source failing midway never leaves half a script to start.
    // An unfinished copy is removed when `out` goes out of scope.
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;

    char block[4096];
    for (;;) {
        const qint64 got = in.read(block, sizeof block);
        if (got < 0)
            throw EInOutError(100, in.errorString().isEmpty() ? platform::InOutErrorText(100) : in.errorString());
        if (got == 0)
            break;
        const qint64 put = out.write(block, got);
        if (put < 0) {
            const int code = out.error() == QFileDevice::ResourceError ? 101 : 5;
            throw EInOutError(code, platform::InOutErrorText(code));
        }
        if (put != got)
            return false; // a short write without an error: the copy is not whole
    }
    if (!out.commit()) {
        const int code = out.error() == QFileDevice::RenameError ? 5 : 101;
        throw EInOutError(code, platform::InOutErrorText(code));
    }
    return true;
}

// System information

namespace {

bool IsServerProductType(const platform::OSFacts &facts)
{
    if (!facts.productInfoOk)
        return false;
    const quint32 t = facts.productType;
    return t == 7 || (t >= 8 && t <= 0x5F) || t >= 0x70;
}

TOSProduct ProductOf(const platform::OSFacts &f, bool server)
{
    switch (f.major) {
    case 4:
        return f.minor == 0 ? (server ? osWinSvrNT : osWinNT) : osUnknown;
    case 5:
        switch (f.minor) {
        case 0: return osWin2000;
        case 1: return osWinXP;
        case 2: return f.serverR2 ? osWinSvr2003R2 : server ? osWinSvr2003 : osWinXP;
        default: return osUnknown;
        }
    case 6:
        switch (f.minor) {
        case 0: return server ? osWinSvr2008 : osWinVista;
        case 1: return server ? osWinSvr2008R2 : osWin7;
        case 2: return server ? osWinSvr2012 : osWin8;
        case 3: return server ? osWinSvr2012R2 : osWin8Point1;
        default: return osUnknown;
        }
    case 10:
        if (server) {
            if (f.build >= 26100) return osWinSvr2025;
            if (f.build >= 20348) return osWinSvr2022;
            if (f.build >= 17763) return osWinSvr2019;
            return osWinSvr2016;
        }
        return f.build >= 22000 ? osWin11 : osWin10;
    default:
        return osUnknown;
    }
}

QString CaptionOf(TOSProduct product, int major, int minor)
{
    switch (product) {
    case osWin2000: return QStringLiteral("Microsoft Windows 2000");
    case osWinXP: return QStringLiteral("Microsoft Windows XP");
    case osWinSvr2003: return QStringLiteral("Microsoft Windows Server 2003");
    case osWinVista: return QStringLiteral("Microsoft Windows Vista");
    case osWinSvr2008: return QStringLiteral("Microsoft Windows Server 2008");
    case osWin7: return QStringLiteral("Microsoft Windows 7");
    case osWinSvr2008R2: return QStringLiteral("Microsoft Windows Server 2008 R2");
    case osWin8: return QStringLiteral("Microsoft Windows 8");
    case osWinSvr2012: return QStringLiteral("Microsoft Windows Server 2012");
    case osWin8Point1: return QStringLiteral("Microsoft Windows 8.1");
    case osWinSvr2012R2: return QStringLiteral("Microsoft Windows Server 2012 R2");
    case osWin10: return QStringLiteral("Microsoft Windows 10");
    case osWinSvr2016: return QStringLiteral("Microsoft Windows Server 2016");
    case osWin11: return QStringLiteral("Microsoft Windows 11");
    case osWinSvr2019: return QStringLiteral("Microsoft Windows Server 2019");
    case osWinSvr2022: return QStringLiteral("Microsoft Windows Server 2022");
    case osWinSvr2025: return QStringLiteral("Microsoft Windows Server 2025");
    default: return QStringLiteral("Microsoft Windows (NT %1.%2)").arg(major).arg(minor);
    }
}

} // namespace

TOSVersionInfo OSVersionInfoFromFacts(const platform::OSFacts &facts)
{
    TOSVersionInfo info;
    info.OSMajorNumber = facts.major;
    info.OSMinorNumber = facts.minor;
    info.OSBuildNumber = facts.build;
    info.OSArchitecture = facts.nativeIs64 ? QStringLiteral("64-bit") : QStringLiteral("32-bit");
    info.Version = QStringLiteral("%1.%2.%3").arg(facts.major).arg(facts.minor).arg(facts.build);
    if (!facts.windows) {
        // The Windows product table means nothing for another system's version numbers.
        info.OSProduct = osUnknown;
        info.Caption = facts.nativeCaption;
        return info;
    }
    info.ProductType = facts.productInfoOk ? qint32(facts.productType) : 0;
    info.OSProduct = ProductOf(facts, IsServerProductType(facts));
    info.Caption = CaptionOf(info.OSProduct, facts.major, facts.minor);
    return info;
}

TOSVersionInfo GetOSVersionInfo()
{
    return OSVersionInfoFromFacts(platform::GetOSFacts());
}

QString GetSpecialFolderPath(int csidl)
{
    return platform::SpecialFolderPath(csidl);
}

QStringList AdapterReportLines(quint32 error, const QList<platform::AdapterInfo> &adapters)
{
    QStringList lines;
    switch (error) {
    case 0:
        break;
    case 50:
        return {QStringLiteral("GetAdaptersInfo is not supported by the operating system running on the local computer.")};
    case 232:
        return {QStringLiteral("No network adapter on the local computer.")};
    default:
        return {QStringLiteral("GetAdaptersInfo failed with error #%1").arg(error)};
    }
    for (const platform::AdapterInfo &a : adapters) {
        QStringList mac;
        for (const char byte : a.address)
            mac.append(QStringLiteral("%1").arg(uchar(byte), 2, 16, QLatin1Char('0')).toUpper());
        lines << QStringLiteral("Description: ") + a.description << QStringLiteral("Name: ") + a.name
              << QStringLiteral("MAC Address: ") + mac.join(QLatin1Char('-'))
              << QStringLiteral("IP Address: ") + a.ipAddress << QStringLiteral("Subnet Mask: ") + a.ipMask
              << QStringLiteral("Gateway: ") + a.gateway
              << QStringLiteral("DHCP enabled: %1").arg(a.dhcpEnabled ? 1 : 0)
              << QStringLiteral("DHCP: ") + a.dhcpServer
              << QStringLiteral("Have WINS: ") + (a.haveWins ? QStringLiteral("True") : QStringLiteral("False"))
              << QStringLiteral("Primary WINS: ") + a.primaryWins
              << QStringLiteral("Secondary WINS: ") + a.secondaryWins;
    }
    return lines;
}

void GetNetworkAdaptersReport(QStringList &Lines)
{
    QList<platform::AdapterInfo> adapters;
    const quint32 error = platform::GetAdapters(adapters);
    Lines = AdapterReportLines(error, adapters);
}

QString GetLocalComputerName()
{
    return platform::ComputerName();
}

bool IsRemoteSession()
{
    return platform::IsRemoteSession();
}

quint32 GetIdleMilliseconds()
{
    return platform::IdleMilliseconds();
}

bool IdleTimeAvailable()
{
    return platform::IdleTimeAvailable();
}

bool IsAdministrator()
{
    return platform::IsAdministrator();
}

void GetExeVersionNumbers(quint16 &major, quint16 &minor, quint16 &release, quint16 &build)
{
    const platform::FileVersion v = platform::RunningVersion();
    major = v.major;
    minor = v.minor;
    release = v.release;
    build = v.build;
}

QString GetExeVersion()
{
    quint16 major, minor, release, build;
    GetExeVersionNumbers(major, minor, release, build);
    return QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(release).arg(build);
}

QString GetFileVersionString(const QString &path)
{
    const platform::FileVersion v = platform::ReadFileVersion(path);
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.release);
}

QString GetAppFolder()
{
    return platform::IncludeTrailingPathDelimiter(platform::ExtractFilePath(platform::ExecutablePath()));
}
