#include "platform/privateprofile.h"

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
