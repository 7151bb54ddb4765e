#include "platform/privateprofile.h"

#include "platform/atomicfile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <optional>
#include <type_traits>

namespace platform {

namespace {

// A file's text is UTF-8 when it is valid UTF-8 (or says so with a byte-order mark),
// UTF-16 with a byte-order mark, and otherwise Windows-1252, the ANSI code page that
// Windows wrote it in. Each file is rewritten in its own encoding; a new file is UTF-8.
enum class TextEncoding { Utf8, Windows1252, Utf16LE, Utf16BE };

bool isByteEncoding(TextEncoding e)
{
    return e == TextEncoding::Utf8 || e == TextEncoding::Windows1252;
}

// Windows-1252's 0x80..0x9F; the five bytes it leaves unassigned map to the C1 controls
// of the same number, as Windows maps them, so that every byte reads and writes back.
const char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const char *data, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        text[i] = QChar(b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char16_t(b));
    }
    return text;
}

// -1 when Windows-1252 has no byte for C.
int windows1252Byte(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    const auto *hit = std::find(std::begin(Cp1252High), std::end(Cp1252High), u);
    return hit == std::end(Cp1252High) ? -1 : int(0x80 + (hit - Cp1252High));
}

bool fitsWindows1252(QChar c)
{
    return windows1252Byte(c) >= 0;
}

QByteArray toWindows1252(const QString &text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Callers only hand in text that fits; '?' is what Windows writes otherwise.
        const int b = windows1252Byte(text[i]);
        out[i] = b < 0 ? '?' : char(b);
    }
    return out;
}

bool isValidUtf8(const QByteArray &data)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(data);
    return !decoder.hasError();
}

// One physical line. For files in a byte encoding `raw` keeps the original bytes (line
// end included) so that lines we do not touch go back byte for byte, even when they are
// not valid in the encoding; a rewritten line clears it. UTF-16 text is held exactly as
// its code units.
struct Line {
    QString text; // without the line end
    QString eol;  // "\r\n", "\n", a lone "\r", or empty for a last line without one
    QByteArray raw;
};

struct ProfileFile {
    TextEncoding encoding = TextEncoding::Utf8;
    QByteArray bom;
    QByteArray oddTail; // a stray last byte of a UTF-16 file
    QList<Line> lines;
};

const QString CrLf = QStringLiteral("\r\n");


bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Parsed {
    enum Kind { Other, Section, Key } kind = Other;
    QString name;
    QString value;         // raw text after '=' (Key only)
    bool hasValue = false; // a key line without '=' names the key but gives no value
};

// Windows' rules: a line is a section header when it starts with '[' and has a ']'
// somewhere (the name runs to the last one); any other line that is not blank names a
// key, up to its first '=' or the whole line. There is no comment syntax: ";x=1" is the
// key ";x".
Parsed parseLine(const QString &text)
{
    Parsed p;
    const QString t = TrimProfileBlanks(text);
    if (t.isEmpty())
        return p;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.lastIndexOf(u']');
        if (close > 0) {
            p.kind = Parsed::Section;
            p.name = TrimProfileBlanks(t.mid(1, close - 1));
            return p;
        }
    }
    const qsizetype eq = t.indexOf(u'=');
    p.name = TrimProfileBlanks(eq < 0 ? t : t.left(eq));
    if (p.name.isEmpty())
        return p;
    p.kind = Parsed::Key;
    p.hasValue = eq >= 0;
    if (p.hasValue)
        p.value = t.mid(eq + 1);
    return p;
}

// A line's UTF-8 text. A U+FEFF that starts a line is a character of it (the file's
// byte-order mark is taken off before): QString::fromUtf8 would drop it, and a key
// spelled with one would not be found again.
QString utf8Line(const char *data, qsizetype size)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(data, size));
}

// Splits DATA from FROM into lines. Lines of a byte encoding also keep their raw bytes.
template <typename Text, typename Unit = typename Text::value_type>
void splitLines(const Text &data, qsizetype from, QList<Line> &lines, TextEncoding encoding)
{
    while (from < data.size()) {
        // A line ends at CR LF, LF, or a CR alone, as Windows reads them.
        qsizetype contentEnd = from;
        while (contentEnd < data.size() && data[contentEnd] != Unit(u'\n') && data[contentEnd] != Unit(u'\r'))
            ++contentEnd;
        qsizetype end = contentEnd;
        Line line;
        if (contentEnd < data.size()) {
            if (data[contentEnd] == Unit(u'\r') && contentEnd + 1 < data.size() && data[contentEnd + 1] == Unit(u'\n')) {
                line.eol = CrLf;
                end += 2;
            } else {
                line.eol = data[contentEnd] == Unit(u'\r') ? QStringLiteral("\r") : QStringLiteral("\n");
                end += 1;
            }
        }
        if constexpr (std::is_same_v<Text, QByteArray>) {
            line.raw = data.mid(from, end - from);
            line.text = encoding == TextEncoding::Windows1252
                            ? fromWindows1252(data.constData() + from, contentEnd - from)
                            : utf8Line(data.constData() + from, contentEnd - from);
        } else {
            line.text = data.mid(from, contentEnd - from);
        }
        lines.append(line);
        from = end;
    }
}

ProfileFile parse(const QByteArray &data)
{
    ProfileFile f;
    const auto *b = reinterpret_cast<const unsigned char *>(data.constData());
    const qsizetype n = data.size();
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        f.bom = data.left(3);
        splitLines(data, 3, f.lines, f.encoding);
    } else if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        f.encoding = b[0] == 0xFF ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        f.bom = data.left(2);
        const qsizetype units = (n - 2) / 2;
        if ((n - 2) % 2)
            f.oddTail = data.right(1);
        // Code units taken as they are (no validation), so that the text goes back unchanged.
        QString text(units, Qt::Uninitialized);
        for (qsizetype i = 0; i < units; ++i) {
            const unsigned char lo = b[2 + 2 * i], hi = b[3 + 2 * i];
            text[i] = f.encoding == TextEncoding::Utf16LE ? QChar(char16_t(lo | hi << 8))
                                                          : QChar(char16_t(hi | lo << 8));
        }
        splitLines(text, 0, f.lines, f.encoding);
    } else {
        if (!isValidUtf8(data))
            f.encoding = TextEncoding::Windows1252;
        splitLines(data, 0, f.lines, f.encoding);
    }
    return f;
}

QByteArray serialize(const ProfileFile &f)
{
    QByteArray out = f.bom;
    if (isByteEncoding(f.encoding)) {
        for (const Line &line : f.lines) {
            if (!line.raw.isNull())
                out += line.raw;
            else if (f.encoding == TextEncoding::Windows1252)
                out += toWindows1252(line.text + line.eol);
            else
                out += (line.text + line.eol).toUtf8();
        }
        return out;
    }
    const bool le = f.encoding == TextEncoding::Utf16LE;
    for (const Line &line : f.lines) {
        const QString s = line.text + line.eol;
        for (QChar c : s) {
            const char16_t u = c.unicode();
            const char lo = char(u & 0xFF), hi = char(u >> 8);
            out += le ? lo : hi;
            out += le ? hi : lo;
        }
    }
    return out + f.oddTail;
}

Line writtenLine(const QString &text)
{
    return Line{text, CrLf, QByteArray()};
}

// nullopt: the file exists but cannot be read (never overwrite what we could not read).
std::optional<ProfileFile> load(const QString &path, bool &exists)
{
    QFile file(path);
    exists = QFileInfo::exists(path);
    if (!exists)
        return ProfileFile();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse(file.readAll());
}

// Index of the first header of `section` (the first of duplicates wins, as on Windows).
qsizetype findSection(const QList<Line> &lines, const QString &section)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Parsed p = parseLine(lines[i].text);
        if (p.kind == Parsed::Section && sameName(p.name, section))
            return i;
    }
    return -1;
}

QString unquote(const QString &value)
{
    QString v = TrimProfileBlanks(value);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

QString capped(QString v)
{
    if (v.size() > MaxProfileValueLength) {
        v.truncate(MaxProfileValueLength);
        // Never hand back half of a surrogate pair.
        if (v.back().isHighSurrogate())
            v.chop(1);
    }
    return v;
}

} // namespace

QString GetPrivateProfileString(const QString &section, const QString &key,
                                const QString &defaultValue, const QString &path)
{
    // Trailing blanks of the default are dropped, as Windows does.
    QString fallback = defaultValue;
    while (!fallback.isEmpty() && IsProfileBlank(fallback.back()))
        fallback.chop(1);
    fallback = capped(fallback);

    bool exists = false;
    const auto file = load(path, exists);
    if (!file)
        return fallback;
    const QString sec = TrimProfileBlanks(section), name = TrimProfileBlanks(key);
    const qsizetype start = findSection(file->lines, sec);
    if (start < 0)
        return fallback;
    for (qsizetype i = start + 1; i < file->lines.size(); ++i) {
        const Parsed p = parseLine(file->lines[i].text);
        if (p.kind == Parsed::Section)
            break;
        if (p.kind == Parsed::Key && sameName(p.name, name))
            return p.hasValue ? capped(unquote(p.value)) : fallback;
    }
    return fallback;
}

bool WritePrivateProfileString(const QString &section, const QString &key,
                               const QString &value, const QString &path)
{
    // Anything that would not read back as the same section, key and value is refused.
    if (!ProfileEntryReadsBack(section, key, value))
        return false;
    const QString sec = TrimProfileBlanks(section), name = TrimProfileBlanks(key);

    bool exists = false;
    auto loaded = load(path, exists);
    if (!loaded)
        return false;
    ProfileFile &file = *loaded;
    QList<Line> &lines = file.lines;
    QString stored = value;
    if (file.encoding == TextEncoding::Windows1252) {
        // The file stays in the code page that Windows reads it in. A name it cannot hold
        // would not be found again, so the write is refused; a value it cannot hold is
        // stored in the escaped one-line form rather than losing characters to '?' as
        // Windows would: the other lines and their bytes stay as they are, and the value
        // reads back whole through DecodeProfileValue.
        if (!std::all_of(sec.begin(), sec.end(), fitsWindows1252)
            || !std::all_of(name.begin(), name.end(), fitsWindows1252))
            return false;
        stored = NarrowProfileValue(value, fitsWindows1252);
    }
    const QByteArray before = exists ? serialize(file) : QByteArray();

    // A last line without a line end gets one before anything is added after it.
    auto terminate = [&lines, &file](qsizetype i) {
        Line &line = lines[i];
        if (!line.eol.isEmpty())
            return;
        line.eol = CrLf;
        if (isByteEncoding(file.encoding))
            line.raw += "\r\n";
    };

    const qsizetype start = findSection(lines, sec);
    qsizetype keyLine = -1; // the line that holds the key, spelt as keyName
    QString keyName = name;
    if (start < 0) {
        if (!lines.isEmpty())
            terminate(lines.size() - 1);
        lines.append(writtenLine(QLatin1Char('[') + sec + QLatin1Char(']')));
        keyLine = lines.size();
        lines.append(writtenLine(name + QLatin1Char('=') + stored));
    } else {
        qsizetype lastContent = start; // the new key goes after this line
        bool replaced = false;
        for (qsizetype i = start + 1; i < lines.size(); ++i) {
            const Parsed p = parseLine(lines[i].text);
            if (p.kind == Parsed::Section)
                break;
            if (p.kind == Parsed::Key && sameName(p.name, name)) {
                // The key keeps its spelling from the file.
                keyName = p.name;
                keyLine = i;
                lines[i] = writtenLine(p.name + QLatin1Char('=') + stored);
                replaced = true;
                break;
            }
            if (!TrimProfileBlanks(lines[i].text).isEmpty())
                lastContent = i;
        }
        if (!replaced) {
            terminate(lastContent);
            keyLine = lastContent + 1;
            lines.insert(keyLine, writtenLine(name + QLatin1Char('=') + stored));
        }
    }

    QByteArray after = serialize(file);
    if (file.encoding == TextEncoding::Windows1252 && isValidUtf8(after)) {
        // The bytes that made the file Windows-1252 were in the line replaced: the file
        // would now read as UTF-8, and a value such as "\u00C3\u00A9" (bytes C3 A9) as
        // another. Such a value goes in the escaped form, which reads the same either way.
        const QString ascii = NarrowProfileValue(value, [](QChar c) { return c.unicode() < 0x80; });
        if (ascii != stored) {
            lines[keyLine] = writtenLine(keyName + QLatin1Char('=') + ascii);
            after = serialize(file);
        }
    }
    if (exists && after == before)
        return true;

    return ReplaceFileContents(path, after);
}

void FlushPrivateProfile(const QString &)
{
}

} // namespace platform
