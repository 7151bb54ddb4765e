#include "platform/version.h"

#include <vector>
#include <windows.h>

// The numbers come from the executable's version resource, built from the project version.
namespace platform {

FileVersion ReadFileVersion(const QString &path)
{
    const auto *name = reinterpret_cast<const wchar_t *>(path.utf16());
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(name, &ignored);
    if (size == 0)
        return {};
    std::vector<char> data(size);
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(name, 0, size, data.data())
        || !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&info), &length) || length < sizeof *info)
        return {};
    return {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
            LOWORD(info->dwFileVersionLS)};
}

FileVersion RunningVersion()
{
    return {TAVRO_VERSION_MAJOR, TAVRO_VERSION_MINOR, TAVRO_VERSION_RELEASE, TAVRO_VERSION_BUILD};
}

} // namespace platform
