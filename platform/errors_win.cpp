#include "platform/errors.h"

#include <windows.h>

namespace platform {

QString SystemErrorText(int code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("System error %1").arg(code);
    LocalFree(text);
    return message;
}

void RaiseLastOSError(const char *call)
{
    const DWORD err = GetLastError();
    throw EOSError(quint32(err), QStringLiteral("%1: %2").arg(QString::fromLatin1(call), SystemErrorText(int(err))));
}

} // namespace platform
