#include "platform/sysinfo.h"

#include <QDir>

#include <optional>
#include <vector>

#include <windows.h>
#include <iphlpapi.h>
#include <shlobj.h>

namespace platform {

namespace {

std::optional<DWORD> RegistryDword(HKEY key, const wchar_t *name)
{
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

QString RegistryText(HKEY key, const wchar_t *name)
{
    wchar_t buf[64] = {};
    DWORD size = sizeof buf - sizeof(wchar_t), type = 0; // room for a terminator the value may lack
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return QString();
    return QString::fromWCharArray(buf);
}

// GetVersionExW answers truthfully only up to what the manifest declares and stops at
// 6.2 without one; the registry holds the running system's own numbers.
void ReadRegistryVersion(OSFacts &facts)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    const std::optional<DWORD> major = RegistryDword(key, L"CurrentMajorVersionNumber");
    const std::optional<DWORD> minor = RegistryDword(key, L"CurrentMinorVersionNumber");
    if (major && minor) {
        facts.major = int(*major);
        facts.minor = int(*minor);
    } else {
        const QStringList parts = RegistryText(key, L"CurrentVersion").split(u'.');
        bool majorOk = false, minorOk = false;
        const int ma = parts.value(0).toInt(&majorOk), mi = parts.value(1).toInt(&minorOk);
        if (parts.size() == 2 && majorOk && minorOk) {
            facts.major = ma;
            facts.minor = mi;
        }
    }
    bool ok = false;
    int build = RegistryText(key, L"CurrentBuild").toInt(&ok);
    if (!ok)
        build = RegistryText(key, L"CurrentBuildNumber").toInt(&ok);
    if (ok)
        facts.build = build;
    RegCloseKey(key);
}

OSFacts ReadOSFacts()
{
    OSFacts facts;
    facts.windows = true;
    OSVERSIONINFOEXW v {};
    v.dwOSVersionInfoSize = sizeof v;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&v)))
        return facts;
    facts.major = int(v.dwMajorVersion);
    facts.minor = int(v.dwMinorVersion);
    facts.build = int(v.dwBuildNumber);
    if (facts.major > 6 || (facts.major == 6 && facts.minor > 1))
        ReadRegistryVersion(facts);

    // The native architecture: a 32-bit client on x64 Windows still reports 64-bit.
    if (facts.major > 5 || (facts.major == 5 && facts.minor >= 1)) {
        SYSTEM_INFO si {};
        GetNativeSystemInfo(&si);
        facts.nativeIs64 = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    }
    DWORD type = 0;
    facts.productInfoOk = GetProductInfo(DWORD(facts.major), DWORD(facts.minor), v.wServicePackMajor,
                                         v.wServicePackMinor, &type) != FALSE;
    facts.productType = facts.productInfoOk ? type : 0;
    if (facts.major == 5 && facts.minor == 2)
        facts.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    return facts;
}

// The adapter's texts are fixed arrays that need not end in a NUL.
template <size_t N>
QString AnsiText(const char (&text)[N])
{
    return QString::fromLocal8Bit(text, qsizetype(qstrnlen(text, N)));
}

} // namespace

const OSFacts &GetOSFacts()
{
    static const OSFacts facts = ReadOSFacts();
    return facts;
}

int MinimumSupportedMajor()
{
    return 6; // Windows Vista
}

QString SpecialFolderPath(int csidl)
{
    if (csidl == CSIDL_COMMON_APPDATA) {
        // Tests and demonstrations keep the machine's data folder out of their way.
        // Written as Windows writes its own folders.
        QString common = QDir::toNativeSeparators(qEnvironmentVariable("TAVROLOGIN_COMMON_APPDATA"));
        if (!common.isEmpty()) {
            while (common.size() > 1 && (common.endsWith(u'\\') || common.endsWith(u'/'))
                   && !(common.size() == 3 && common[1] == u':'))
                common.chop(1);
            return common.left(MAX_PATH + 1);
        }
    }
    wchar_t buf[MAX_PATH + 2] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf)))
        return QString();
    buf[MAX_PATH + 1] = L'\0';
    return QString::fromWCharArray(buf);
}

QString ComputerName()
{
    wchar_t buf[256] = {};
    DWORD size = 256;
    if (!GetComputerNameW(buf, &size))
        return QString();
    return QString::fromWCharArray(buf, int(qMin<DWORD>(size, 255)));
}

quint32 GetAdapters(QList<AdapterInfo> &adapters)
{
    adapters.clear();
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    std::vector<quint64> buffer; // IP_ADAPTER_INFO holds 64-bit fields
    DWORD rc = ERROR_BUFFER_OVERFLOW;
    // An adapter that appears between the size query and the read asks for more room.
    for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign((size + sizeof(quint64) - 1) / sizeof(quint64), 0);
        rc = GetAdaptersInfo(buffer.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data()), &size);
    }
    if (rc != ERROR_SUCCESS)
        return rc;
    // Already in Windows' own order.
    for (const IP_ADAPTER_INFO *a = reinterpret_cast<const IP_ADAPTER_INFO *>(buffer.data()); a; a = a->Next) {
        AdapterInfo info;
        info.description = AnsiText(a->Description);
        info.name = AnsiText(a->AdapterName);
        info.address = QByteArray(reinterpret_cast<const char *>(a->Address),
                                  qsizetype(qMin<UINT>(a->AddressLength, sizeof a->Address)));
        info.ipAddress = AnsiText(a->IpAddressList.IpAddress.String);
        info.ipMask = AnsiText(a->IpAddressList.IpMask.String);
        info.gateway = AnsiText(a->GatewayList.IpAddress.String);
        info.dhcpEnabled = a->DhcpEnabled != 0;
        info.dhcpServer = AnsiText(a->DhcpServer.IpAddress.String);
        info.haveWins = a->HaveWins != FALSE;
        info.primaryWins = AnsiText(a->PrimaryWinsServer.IpAddress.String);
        info.secondaryWins = AnsiText(a->SecondaryWinsServer.IpAddress.String);
        adapters.append(info);
    }
    return 0;
}

quint32 IdleMilliseconds()
{
    LASTINPUTINFO last {};
    last.cbSize = sizeof last;
    if (!GetLastInputInfo(&last))
        return 0; // keeps the user logged on
    // Both are 32-bit tick counts: the unsigned difference survives the wrap after 49.7 days.
    return quint32(GetTickCount() - last.dwTime);
}

bool IdleTimeAvailable()
{
    return true;
}

bool IsRemoteSession()
{
    return GetSystemMetrics(SM_REMOTESESSION) != 0;
}

bool IsAdministrator()
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        if (GetLastError() != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return false;
    }
    // The whole group list, however long: a domain user's may pass any fixed size.
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<quint64> buffer((size + sizeof(quint64) - 1) / sizeof(quint64));
    const bool read = !buffer.empty() && GetTokenInformation(token, TokenGroups, buffer.data(), size, &size);
    CloseHandle(token);
    if (!read)
        return false;

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins))
        return false;
    // Membership counts whatever its attributes: under UAC the unelevated token keeps the
    // group for deny only, and CheckTokenMembership would say no.
    const auto *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = EqualSid(groups->Groups[i].Sid, admins) != FALSE;
    FreeSid(admins);
    return found;
}

} // namespace platform
