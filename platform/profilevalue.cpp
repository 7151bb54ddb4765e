#include "platform/privateprofile.h"

#include <algorithm>

// The one-line encoding of profile values, shared by every INI backend.
namespace platform {

namespace {
bool hasLineBreak(const QString &s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}
} // namespace

// Values holding a line break are stored as the marker "\:" followed by the value with
// "\" written as "\\", CR as "\r", LF as "\n", tab as "\t" and a trailing blank escaped
// (space as "\s"), so that the blank survives the trimming of reads. Everything else is
// stored as it is, so existing values such as C:\x\new read unchanged; only a plain value
// that itself starts with the marker is encoded too, to read back as written. For a file
// whose encoding cannot hold every character, the marker form also writes those as
// "\u" and four hex digits.
namespace {
const QString Marker = QStringLiteral("\\:");

// The marker form; characters FITS refuses are written as "\u" and four hex digits.
QString markerForm(const QString &value, bool (*fits)(QChar))
{
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
        default:
            if (fits && !fits(c))
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

// The code unit of the four hex digits at AT, or -1.
int hexUnit(const QString &s, qsizetype at)
{
    if (at + 4 > s.size())
        return -1;
    int unit = 0;
    for (qsizetype k = at; k < at + 4; ++k) {
        const char16_t d = s[k].unicode();
        const int v = d >= '0' && d <= '9' ? d - '0' : d >= 'a' && d <= 'f' ? d - 'a' + 10 : d >= 'A' && d <= 'F' ? d - 'A' + 10 : -1;
        if (v < 0)
            return -1;
        unit = unit * 16 + v;
    }
    return unit;
}

} // namespace

bool IsProfileBlank(QChar c)
{
    const char16_t u = c.unicode();
    // Ctrl-Z, which old editors put at a file's end, counts as a blank as on Windows.
    return u == ' ' || u == '\t' || u == '\r' || u == '\v' || u == '\f' || u == 0x1A;
}

QString TrimProfileBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && IsProfileBlank(s[b]))
        ++b;
    while (e > b && IsProfileBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool ProfileEntryReadsBack(const QString &section, const QString &key, const QString &value)
{
    const QString sec = TrimProfileBlanks(section), name = TrimProfileBlanks(key);
    return !sec.isEmpty() && !hasLineBreak(sec) && !sec.contains(u']') && !name.isEmpty() && !hasLineBreak(name)
           && !name.contains(u'=') && !name.startsWith(u'[') && !hasLineBreak(value);
}

QString EncodeProfileValue(const QString &value)
{
    if (!hasLineBreak(value) && !value.startsWith(Marker))
        return value;
    return markerForm(value, nullptr);
}

QString NarrowProfileValue(const QString &stored, bool (*fits)(QChar))
{
    if (std::all_of(stored.begin(), stored.end(), fits))
        return stored;
    return markerForm(DecodeProfileValue(stored), fits);
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
        case 'u':
            if (const int unit = hexUnit(stored, i + 1); unit >= 0) {
                out += QChar(char16_t(unit));
                i += 4;
                break;
            }
            [[fallthrough]];
        default: // unknown escape: kept as written
            out += c;
            out += n;
        }
    }
    return out;
}

} // namespace platform
