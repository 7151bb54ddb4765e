#include "platform/envstore.h"

#include <windows.h>

// The persistent environment is the registry's: HKCU\Environment for the user,
// the Session Manager's key for the machine; Explorer rereads it on WM_SETTINGCHANGE.
namespace platform {

namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

HKEY OpenStore(bool machineWide)
{
    HKEY key = nullptr;
    const LSTATUS rc = machineWide
        ? RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                        KEY_SET_VALUE, &key)
        : RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

} // namespace

void SetProcessVariable(const QString &name, const QString &value)
{
    SetEnvironmentVariableW(W(name), W(value));
    qputenv(name.toLocal8Bit().constData(), value.toLocal8Bit());
}

void UnsetProcessVariable(const QString &name)
{
    SetEnvironmentVariableW(W(name), nullptr);
    qunsetenv(name.toLocal8Bit().constData());
}

QString EnvironmentValueProblem(const QString &)
{
    return QString(); // the registry keeps any text
}

bool StoreEnvironmentVariable(bool machineWide, const QString &name, const QString &value)
{
    HKEY key = OpenStore(machineWide);
    if (!key)
        return false;
    const LSTATUS rc = RegSetValueExW(key, W(name), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.utf16()),
                                      DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool RemoveEnvironmentVariable(bool machineWide, const QString &name)
{
    HKEY key = OpenStore(machineWide);
    if (!key)
        return false;
    RegDeleteValueW(key, W(name));
    RegCloseKey(key);
    return true;
}

void BroadcastEnvironmentChange(const QString &, const QString *)
{
    DWORD_PTR result = 0;
    // A hung window must not hold the logon up: each gets a short time to answer.
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &result);
}

} // namespace platform
