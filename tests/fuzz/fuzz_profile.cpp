// The INI reader and writer and the one-line value encoding.
// Input: SECTION NUL KEY NUL VALUE NUL FILE, the first three as UTF-8 text and FILE the
// bytes the profile holds before the write (none: no file). The value is written the way
// the settings store writes it, EncodeProfileValue, and read back. Invariants:
// - a value with a line break is refused as it is, and its encoded form never holds one;
// - a write is refused only for a name that cannot be stored, and then leaves the file be;
// - a write changes one line (a replaced key) or adds one or two (key, section header),
//   each ending in CR LF and without a line break of its own; every other line stays byte
//   for byte, a last line without a line end only gaining one;
// - the read returns what was stored, blanks and one pair of quotes stripped and cut to
//   2047 units; a stored form that needs neither reads back, decoded, as the value.
#include "fuzzcheck.h"
#include "platform/privateprofile.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <vector>

namespace {

using Units = std::vector<char16_t>;

bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\r' || u == '\v' || u == '\f' || u == 0x1A;
}

QString trimBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

QString unquote(const QString &value)
{
    QString v = trimBlanks(value);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

QString capped(QString v)
{
    if (v.size() > platform::MaxProfileValueLength) {
        v.truncate(platform::MaxProfileValueLength);
        if (v.back().isHighSurrogate())
            v.chop(1);
    }
    return v;
}

bool hasLineBreak(const QString &s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}

// Windows-1252's 0x80..0x9F, its five unassigned bytes standing for the C1 controls.
const char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool fits1252(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x80 || (u >= 0xA0 && u <= 0xFF) || std::find(std::begin(Cp1252High), std::end(Cp1252High), u) != std::end(Cp1252High);
}

bool validUtf8(const QByteArray &data)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(data);
    return !decoder.hasError();
}

enum class Encoding { Utf8, Windows1252, Utf16 };

Encoding encodingOf(const QByteArray &data)
{
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return Encoding::Utf16;
    if (data.startsWith("\xEF\xBB\xBF") || validUtf8(data))
        return Encoding::Utf8;
    return Encoding::Windows1252;
}

// The file as lines of code units (bytes widened), each with its line end.
struct Lines {
    QByteArray head, tail; // byte-order mark, odd last byte of UTF-16
    QList<Units> lines;
};

Lines split(const QByteArray &data)
{
    Lines f;
    Units units;
    if (encodingOf(data) == Encoding::Utf16) {
        const bool le = data[0] == '\xFF';
        f.head = data.left(2);
        if (data.size() % 2)
            f.tail = data.right(1);
        for (qsizetype i = 2; i + 1 < data.size(); i += 2) {
            const auto a = uchar(data[i]), b = uchar(data[i + 1]);
            units.push_back(le ? char16_t(a | b << 8) : char16_t(b | a << 8));
        }
    } else {
        if (data.startsWith("\xEF\xBB\xBF"))
            f.head = data.left(3);
        for (char c : data.mid(f.head.size()))
            units.push_back(uchar(c));
    }
    // A line ends at CR LF, LF, or a CR alone.
    Units line;
    for (size_t i = 0; i < units.size(); ++i) {
        line.push_back(units[i]);
        if (units[i] == '\n' || (units[i] == '\r' && (i + 1 == units.size() || units[i + 1] != '\n'))) {
            f.lines.append(line);
            line.clear();
        }
    }
    if (!line.empty())
        f.lines.append(line);
    return f;
}

bool endsWithLineEnd(const Units &line)
{
    return !line.empty() && (line.back() == '\n' || line.back() == '\r');
}

// A line the writer made: CR LF at the end and no other CR or LF.
bool isWrittenLine(const Units &line)
{
    if (line.size() < 2 || line[line.size() - 2] != '\r' || line.back() != '\n')
        return false;
    return std::none_of(line.begin(), line.end() - 2, [](char16_t u) { return u == '\r' || u == '\n'; });
}

// A line's text in the file's encoding.
QString show(const Units &line, Encoding encoding)
{
    if (encoding == Encoding::Utf16)
        return QString::fromUtf16(line.data(), qsizetype(line.size()));
    QByteArray bytes;
    QString text;
    for (char16_t u : line) {
        bytes += char(u);
        text += QChar(u >= 0x80 && u < 0xA0 ? Cp1252High[u - 0x80] : u);
    }
    return encoding == Encoding::Utf8 ? QString::fromUtf8(bytes) : text;
}

void checkLines(const QByteArray &before, const QByteArray &after, const QString &sec, Encoding encoding)
{
    const Lines o = split(before), n = split(after);
    FUZZ_CHECK(before.isEmpty() || (o.head == n.head && o.tail == n.tail), "the byte-order mark or last byte changed",
               QString::fromLatin1(after.toHex()));
    qsizetype p = 0, s = 0;
    while (p < o.lines.size() && p < n.lines.size() && o.lines[p] == n.lines[p])
        ++p;
    while (s < o.lines.size() - p && s < n.lines.size() - p
           && o.lines[o.lines.size() - 1 - s] == n.lines[n.lines.size() - 1 - s])
        ++s;
    const QList<Units> gone = o.lines.mid(p, o.lines.size() - p - s);
    QList<Units> added = n.lines.mid(p, n.lines.size() - p - s);
    const QString detail = QString::fromLatin1(before.toHex()) + QStringLiteral("\n  -> ") + QString::fromLatin1(after.toHex());
    FUZZ_CHECK(gone.size() <= 1, "a write touched more than one line", detail);
    // A last line without a line end only gains one.
    if (gone.size() == 1 && !endsWithLineEnd(gone[0]) && !added.isEmpty() && added.size() > 1) {
        Units terminated = gone[0];
        terminated.push_back('\r');
        terminated.push_back('\n');
        FUZZ_CHECK(added.front() == terminated, "a last line changed beyond its line end", detail);
        added.removeFirst();
    }
    FUZZ_CHECK(!added.isEmpty() && added.size() <= 2, "a write added no line or more than two", detail);
    FUZZ_CHECK(gone.isEmpty() || added.size() == 1 || !endsWithLineEnd(gone[0]), "a replaced key became two lines",
               detail);
    for (const Units &line : added)
        FUZZ_CHECK(isWrittenLine(line), "a written line holds a line break", show(line, encoding));
    if (added.size() == 2)
        FUZZ_CHECK(show(added[0], encoding) == u'[' + sec + QStringLiteral("]\r\n"), "a new section's header is not its name",
                   show(added[0], encoding));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// In memory where there is a tmpfs: every run writes the file anew. Removed at exit.
const QString &profilePath()
{
    static const QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/tavro-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/tavro-fuzz-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("profile.ini"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> fields;
    qsizetype at = 0;
    for (int k = 0; k < 3; ++k) {
        const qsizetype nul = input.indexOf('\0', at);
        if (nul < 0)
            return 0;
        fields.append(input.mid(at, nul - at));
        at = nul + 1;
    }
    const QString sec = QString::fromUtf8(fields[0]), key = QString::fromUtf8(fields[1]);
    const QString value = QString::fromUtf8(fields[2]);
    const QByteArray before = input.mid(at);
    const QString &path = profilePath();
    QFile::remove(path);
    if (!before.isEmpty() && !writeAll(path, before))
        std::abort();

    if (hasLineBreak(value)) {
        FUZZ_CHECK(!platform::WritePrivateProfileString(sec, key, value, path), "a raw line break was written", value);
        FUZZ_CHECK(readAll(path) == before, "a refused write changed the file", value);
    }
    const QString encoded = platform::EncodeProfileValue(value);
    FUZZ_CHECK(!hasLineBreak(encoded), "the one-line form holds a line break", value);
    FUZZ_CHECK(platform::DecodeProfileValue(encoded) == value, "the one-line form decodes to another value", value);

    const bool written = platform::WritePrivateProfileString(sec, key, encoded, path);
    const QByteArray after = readAll(path);
    const QString s = trimBlanks(sec), k = trimBlanks(key);
    const Encoding encoding = before.isEmpty() ? Encoding::Utf8 : encodingOf(before);
    const bool storable = !s.isEmpty() && !hasLineBreak(s) && !s.contains(u']') && !k.isEmpty() && !hasLineBreak(k)
                          && !k.contains(u'=') && !k.startsWith(u'[')
                          && (encoding != Encoding::Windows1252
                              || (std::all_of(s.begin(), s.end(), fits1252) && std::all_of(k.begin(), k.end(), fits1252)));
    FUZZ_CHECK(written == storable, written ? "a name that cannot be stored was written" : "a write was refused",
               sec + QStringLiteral(" / ") + key);
    if (!written) {
        FUZZ_CHECK(after == before, "a refused write changed the file", sec + QStringLiteral(" / ") + key);
        return 0;
    }
    if (after != before)
        checkLines(before, after, s, encoding);

    // A Windows-1252 file stores what the code page cannot hold escaped; one that would
    // then read as UTF-8 stores every character outside ASCII escaped.
    QString stored = encoded;
    if (encoding == Encoding::Windows1252)
        stored = validUtf8(after) ? platform::NarrowProfileValue(encoded, [](QChar c) { return c.unicode() < 0x80; })
                                  : platform::NarrowProfileValue(encoded, fits1252);
    const QString read = platform::GetPrivateProfileString(sec, key, QStringLiteral("\x01"), path);
    FUZZ_CHECK(read == capped(unquote(stored)), "a read after the write returned something else",
               value + QStringLiteral("\n  read ") + read);
    if (unquote(stored) == stored && stored.size() <= platform::MaxProfileValueLength)
        FUZZ_CHECK(platform::DecodeProfileValue(read) == value, "the value did not read back", value + QStringLiteral("\n  read ") + read);
    return 0;
}
