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
// A new file starts with a UTF-16 byte-order mark, so that Windows stores every character;
// a value an existing ANSI file cannot hold is refused rather than written as '?'.
namespace platform {

namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

bool hasLineBreak(const QString &s)
{
    return s.contains(u'\n') || s.contains(u'\r');
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
    const DWORD n = GetPrivateProfileStringW(W(section), W(key), W(defaultValue), buffer, MaxProfileValueLength + 1,
                                             W(path));
    return QString::fromWCharArray(buffer, int(n));
}

bool WritePrivateProfileString(const QString &section, const QString &key, const QString &value,
                               const QString &path)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty() || hasLineBreak(section) || hasLineBreak(key)
        || hasLineBreak(value))
        return false;
    FileMutex lock(path);
    const QString temp = path + QStringLiteral(".tavro-tmp");
    DeleteFileW(W(temp));
    if (GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES) {
        if (!CopyFileW(W(path), W(temp), FALSE))
            return false;
        if (!IsUnicodeFile(temp) && !(FitsAnsi(section) && FitsAnsi(key) && FitsAnsi(value))) {
            DeleteFileW(W(temp));
            return false;
        }
    } else {
        QFile fresh(temp);
        if (!fresh.open(QIODevice::WriteOnly) || fresh.write("\xFF\xFE", 2) != 2)
            return false;
    }
    if (!WritePrivateProfileStringW(W(section), W(key), W(value), W(temp))
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

// Values holding a line break are stored as the marker "\:" followed by the value with
// "\" written as "\\", CR as "\r", LF as "\n", tab as "\t" and a trailing blank escaped
// (space as "\s"), so that the blank survives the trimming of reads. Everything else is
// stored as it is, so existing values such as C:\x\new read unchanged; only a plain value
// that itself starts with the marker is encoded too, to read back as written.
namespace {
const QString Marker = QStringLiteral("\\:");
}

QString EncodeProfileValue(const QString &value)
{
    if (!hasLineBreak(value) && !value.startsWith(Marker))
        return value;
    QString out = Marker;
    out.reserve(value.size() + value.size() / 8 + 4);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        const bool last = i == value.size() - 1;
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\v': out += last ? QLatin1String("\\v") : QLatin1String("\v"); break;
        case '\f': out += last ? QLatin1String("\\f") : QLatin1String("\f"); break;
        case ' ': out += last ? QLatin1String("\\s") : QLatin1String(" "); break;
        default: out += c;
        }
    }
    return out;
}

QString DecodeProfileValue(const QString &stored)
{
    if (!stored.startsWith(Marker))
        return stored;
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = Marker.size(); i < stored.size(); ++i) {
        const QChar c = stored[i];
        if (c != u'\\' || i + 1 == stored.size()) {
            out += c;
            continue;
        }
        const QChar n = stored[++i];
        switch (n.unicode()) {
        case '\\': out += u'\\'; break;
        case 'r': out += u'\r'; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'v': out += u'\v'; break;
        case 'f': out += u'\f'; break;
        case 's': out += u' '; break;
        default: // unknown escape: kept as written
            out += c;
            out += n;
        }
    }
    return out;
}

} // namespace platform
