#include "platform/dirlist_p.h"

namespace platform {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date.
qint64 DaysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Wildcard match of an upper-cased mask against a name; Same compares one
// mask character with one name character.
template <typename C, typename Same>
bool Glob(const C *m, qsizetype mn, const C *s, qsizetype sn, Same same)
{
    qsizetype mi = 0, si = 0, starM = -1, starS = 0;
    while (si < sn) {
        if (mi < mn && m[mi] == C('*')) {
            starM = mi++;
            starS = si;
        } else if (mi < mn && (m[mi] == C('?') || same(m[mi], s[si]))) {
            ++mi;
            ++si;
        } else if (starM >= 0) {
            mi = starM + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (mi < mn && m[mi] == C('*'))
        ++mi;
    // "name.*" also lists "name".
    return mi == mn || (mn - mi == 2 && m[mi] == C('.') && m[mi + 1] == C('*'));
}

// Upper case one UTF-16 unit at a time, as Windows compares names: QString::toUpper
// would make "\u00DF" two letters, so that "?" missed it and "SS" matched it.
QString UnitUpper(QString s)
{
    for (QChar &c : s)
        c = c.toUpper();
    return s;
}

} // namespace

MaskMatcher::MaskMatcher(const QString &mask)
    : m_all(mask == QLatin1String("*") || mask == QLatin1String("*.*")), m_upper(UnitUpper(mask))
{
    bool ascii = true;
    for (QChar c : mask)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        m_ascii = mask.toLatin1();
        for (char &c : m_ascii)
            c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
    }
    m_asciiValid = ascii;
}

bool MaskMatcher::Matches(const char *name, qsizetype len) const
{
    if (m_all)
        return true;
    bool ascii = true;
    for (qsizetype i = 0; i < len && ascii; ++i)
        ascii = static_cast<unsigned char>(name[i]) < 0x80;
    if (ascii && m_asciiValid)
        return Glob(m_ascii.constData(), m_ascii.size(), name, len,
                    [](char a, char b) { return a == static_cast<char>(Fold(static_cast<unsigned char>(b))); });
    return Matches(QString::fromUtf8(name, len));
}

bool MaskMatcher::Matches(const QString &name) const
{
    if (m_all)
        return true;
    const QString upper = UnitUpper(name);
    return Glob(m_upper.constData(), m_upper.size(), upper.constData(), upper.size(),
                [](QChar a, QChar b) { return a == b; });
}

bool MatchesMask(const QString &mask, const QByteArray &name)
{
    return !mask.isEmpty() && MaskMatcher(mask).Matches(name.constData(), name.size());
}

double FileTimeToLocalDateTime(FileTime time)
{
    LocalTime t;
    if (!ToLocalTime(time, t))
        return 0;
    const qint64 days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day))
                        - DaysFromCivil(1899, 12, 30);
    const double frac = ((t.hour * 60.0 + t.minute) * 60.0 + t.second + t.ms / 1000.0) / 86400.0;
    // Before 1899-12-30 the time of day still counts forward from midnight.
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

qint32 FileTimeToPackedDateTime(FileTime time)
{
    LocalTime t;
    if (!ToLocalTime(time, t) || t.year < 1980 || t.year > 2107)
        return 0;
    const quint32 date = (static_cast<quint32>(t.year - 1980) << 9) | (static_cast<quint32>(t.month) << 5)
                         | static_cast<quint32>(t.day);
    const quint32 tod = (static_cast<quint32>(t.hour) << 11) | (static_cast<quint32>(t.minute) << 5)
                        | static_cast<quint32>(t.second / 2);
    return static_cast<qint32>((date << 16) | tod);
}

} // namespace platform
