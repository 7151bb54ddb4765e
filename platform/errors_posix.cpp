#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace platform {

QString SystemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

void RaiseLastOSError(const char *call)
{
    const int err = errno;
    throw EOSError(quint32(err), QStringLiteral("%1: %2").arg(QString::fromLatin1(call), SystemErrorText(err)));
}

} // namespace platform
