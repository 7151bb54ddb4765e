#include "platform/paths.h"

#include <QDir>

#include <windows.h>
// Our own functions share these names with the Windows macros.
#undef DeleteFile

// UNC paths go to Windows itself here: the network provider is the system's.
namespace platform {

namespace {
const wchar_t *W(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}
} // namespace

bool FileExists(const QString &path)
{
    const DWORD attr = GetFileAttributesW(W(path));
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const QString &path)
{
    const DWORD attr = GetFileAttributesW(W(path));
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const QString &path)
{
    if (path.isEmpty() || IsUncPath(path))
        return false;
    return QDir().mkpath(QDir::fromNativeSeparators(path));
}

bool DeleteFile(const QString &path)
{
    return DeleteFileW(W(path)) != 0;
}

QString ExecutablePath()
{
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
        if (n == 0)
            return QString();
        if (n < buf.size())
            return QString::fromWCharArray(buf.data(), int(n));
        buf.resize(buf.size() * 2);
    }
}

} // namespace platform
