#include "platform/files.h"

#include "platform/errors.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

// Local and UNC paths alike: Windows reaches the share through the session's connections.
std::unique_ptr<QIODevice> OpenReadStream(const QString &path)
{
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        // The Windows codes are the I/O codes; anything but these is access denied or the system's own.
        const int code = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_ACCESS_DENIED
                ? int(err) : err == ERROR_BAD_NETPATH || err == ERROR_BAD_NET_NAME ? 3 : int(err);
        throw EInOutError(code, InOutErrorText(code));
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        throw EInOutError(4, InOutErrorText(4));
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        throw EInOutError(5, InOutErrorText(5));
    }
    return file;
}

} // namespace platform
