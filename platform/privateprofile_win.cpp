#include "platform/privateprofile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <windows.h>
// Our own functions share these names with the Windows macros.
#undef GetPrivateProfileString
#undef WritePrivateProfileString

// The INI rules here are Windows' own: GetPrivateProfileStringW / WritePrivateProfileStringW.
// On top of them each write still lands atomically: under a per-file mutex the file is
// copied beside itself, Windows writes the copy, and the copy replaces the file in one
// rename, so a crash never leaves half a file and two writers never lose each other's key.
// A new file is Windows' own plain ANSI text; a value an ANSI file cannot hold is written in
// the escaped one-line form rather than as '?'. A UTF-16 file holds every character.
namespace platform {

namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

bool IsUnicodeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(2);
    return head == QByteArray("\xFF\xFE", 2);
}

bool FitsAnsi(const QString &text)
{
    if (text.isEmpty())
        return true;
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, W(text), int(text.size()), nullptr, 0, nullptr, &lossy);
    return !lossy;
}

bool FitsAnsiChar(QChar c)
{
    return FitsAnsi(QString(c));
}

class FileMutex {
public:
    explicit FileMutex(const QString &path)
    {
        const QByteArray id = QCryptographicHash::hash(QDir::cleanPath(QDir::fromNativeSeparators(path)).toLower().toUtf8(),
                                                       QCryptographicHash::Sha1).toHex();
        m_mutex = CreateMutexW(nullptr, FALSE, W(QStringLiteral("Local\\tavro.ini.") + QString::fromLatin1(id)));
        if (m_mutex)
            WaitForSingleObject(m_mutex, INFINITE);
    }
    ~FileMutex()
    {
        if (m_mutex) {
            ReleaseMutex(m_mutex);
            CloseHandle(m_mutex);
        }
    }
    FileMutex(const FileMutex &) = delete;
    FileMutex &operator=(const FileMutex &) = delete;

private:
    HANDLE m_mutex = nullptr;
};

} // namespace

QString GetPrivateProfileString(const QString &section, const QString &key, const QString &defaultValue,
                                const QString &path)
{
    wchar_t buffer[MaxProfileValueLength + 1] = {};
    DWORD n = GetPrivateProfileStringW(W(section), W(key), W(defaultValue), buffer, MaxProfileValueLength + 1, W(path));
    // A cut through a surrogate pair drops its first half rather than return half a character.
    if (n == DWORD(MaxProfileValueLength) && QChar::isHighSurrogate(char16_t(buffer[n - 1])))
        --n;
    return QString::fromWCharArray(buffer, int(n));
}

bool WritePrivateProfileString(const QString &section, const QString &key, const QString &value,
                               const QString &path)
{
    if (!ProfileEntryReadsBack(section, key, value))
        return false;
    FileMutex lock(path);
    const QString temp = path + QStringLiteral(".tavro-tmp");
    DeleteFileW(W(temp));
    const bool exists = GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
    if (exists && !CopyFileW(W(path), W(temp), FALSE))
        return false;
    // Windows makes a new file in the ANSI code page and writes '?' for what it cannot hold:
    // a name it cannot hold would not be found again, and a value goes in the escaped
    // one-line form that reads back whole.
    QString stored = value;
    if (!(exists && IsUnicodeFile(temp))) {
        if (!FitsAnsi(section) || !FitsAnsi(key)) {
            DeleteFileW(W(temp));
            return false;
        }
        stored = NarrowProfileValue(value, FitsAnsiChar);
    }
    if (!WritePrivateProfileStringW(W(section), W(key), W(stored), W(temp))
        || !MoveFileExW(W(temp), W(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(W(temp));
        return false;
    }
    return true;
}

void FlushPrivateProfile(const QString &path)
{
    // Windows caches profile files: a null write flushes the cache.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, W(path));
}

} // namespace platform
