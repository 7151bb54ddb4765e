#include "platform/files.h"

#include "platform/errors.h"
#include "platform/netprovider.h"
#include "platform/paths.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<QIODevice> OpenReadStream(const QString &path)
{
    if (IsUncPath(path))
        return NetOpenReadStream(path);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int code = InOutCodeFromErrno(errno);
        throw EInOutError(code, InOutErrorText(code));
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw EInOutError(5, InOutErrorText(5));
    }
    return file;
}

} // namespace platform
