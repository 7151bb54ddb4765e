#include "platform/errnocodes_p.h"

#include "platform/process.h"

#include <cerrno>

namespace platform {

namespace {

struct ErrnoCode {
    int err;
    quint32 code;
};
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND}, {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},  {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},  {EBADF, ERROR_INVALID_HANDLE},
    {ECHILD, ERROR_INVALID_HANDLE}, {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EMFILE, 4},                    {ENFILE, 4},
    {ETXTBSY, 32},                  {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOSPC, 112},                  {ENOEXEC, ERROR_BAD_EXE_FORMAT},
#ifdef ELIBBAD // not in the Windows C runtime
    {ELIBBAD, ERROR_BAD_EXE_FORMAT},
#endif
    {E2BIG, ERROR_FILENAME_EXCED_RANGE}, {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ELOOP, 1921},
};

} // namespace

quint32 ErrorCodeFromErrno(int err)
{
    for (const ErrnoCode &entry : kErrnoCodes)
        if (entry.err == err)
            return entry.code;
    return ErrnoCustomerBit | quint32(err);
}

int ErrnoOfCode(quint32 code)
{
    if (code & ErrnoCustomerBit)
        return int(code & 0xFFFF);
    for (const ErrnoCode &entry : kErrnoCodes)
        if (entry.code == code)
            return entry.err;
    return -1;
}

} // namespace platform
