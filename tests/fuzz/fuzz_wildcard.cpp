// The folder listing's Windows wildcard matcher and the finder's exclusion patterns.
// Input: MASK NUL NAME [NUL FILE NUL PATTERN]; NAME is a stored name, any bytes.
// The matcher is checked against a plain backtracking reading of its rules (case
// ignored one UTF-16 unit at a time, "*" any run, "?" one unit, "*" and "*.*" every
// name, a trailing ".*" also matching without it). The exclusion rule is checked for
// what it promises: ASCII case never matters, a pattern's folder only narrows, a name
// without wildcards matches just itself, and every file matches its own name.
#include "fuzzcheck.h"
#include "components/FindFile.h"
#include "platform/dirlist.h"
#include "platform/paths.h"

#include <QFile>
#include <QList>

#include <vector>

namespace {

// Whether M matches all of S; a table over positions, so that runs of "*" cost nothing extra.
bool glob(const QString &m, const QString &s)
{
    // at[j]: the first i mask characters match the first j name units.
    std::vector<char> at(size_t(s.size()) + 1, 0), next(at.size());
    at[0] = 1;
    for (qsizetype i = 0; i < m.size(); ++i) {
        std::fill(next.begin(), next.end(), 0);
        for (qsizetype j = 0; j <= s.size(); ++j) {
            if (m[i] == u'*')
                next[j] = at[j] || (j > 0 && next[j - 1]);
            else if (j > 0 && at[j - 1])
                next[j] = m[i] == u'?' || m[i].toUpper() == s[j - 1].toUpper();
        }
        std::swap(at, next);
    }
    return at.back();
}

bool reference(const QString &mask, const QString &name)
{
    if (mask.isEmpty())
        return false;
    if (mask == u"*" || mask == u"*.*")
        return true;
    return glob(mask, name) || (mask.endsWith(u".*") && glob(mask.chopped(2), name));
}

QString swapAsciiCase(QString s)
{
    for (QChar &c : s) {
        const char16_t u = c.unicode();
        if (u >= 'a' && u <= 'z')
            c = QChar(char16_t(u - 32));
        else if (u >= 'A' && u <= 'Z')
            c = QChar(char16_t(u + 32));
    }
    return s;
}

QString asciiUpper(QString s)
{
    for (QChar &c : s)
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(char16_t(c.unicode() - 32));
    return s;
}

void checkExclusion(const QString &file, const QString &pattern)
{
    const bool hit = MatchesExcludePattern(file, pattern);
    const QString detail = file + QStringLiteral(" against ") + pattern;
    FUZZ_CHECK(MatchesExcludePattern(swapAsciiCase(file), pattern) == hit, "file's letter case matters", detail);
    FUZZ_CHECK(MatchesExcludePattern(file, swapAsciiCase(pattern)) == hit, "pattern's letter case matters", detail);
    const QString folder = platform::ExtractFilePath(pattern), name = platform::ExtractFileName(pattern);
    if (!folder.isEmpty())
        FUZZ_CHECK(!hit || MatchesExcludePattern(file, name), "a pattern's folder widened it", detail);
    if (!name.contains(u'*') && !name.contains(u'?') && !name.isEmpty())
        FUZZ_CHECK(MatchesExcludePattern(file, name)
                       == (asciiUpper(platform::ExtractFileName(file)) == asciiUpper(name)),
                   "a plain name matched another", file + QStringLiteral(" against ") + name);
    FUZZ_CHECK(MatchesExcludePattern(file, platform::ExtractFileName(file)), "a file missed its own name", file);
    FUZZ_CHECK(MatchesExcludePattern(file, QString()), "an empty pattern missed", file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const QString mask = QString::fromUtf8(parts[0]);
    const QByteArray stored = parts.value(1);
    const QString name = QFile::decodeName(stored);

    const bool hit = platform::MatchesMask(mask, stored);
    FUZZ_CHECK(hit == reference(mask, name), hit ? "the mask matched a name it should not" : "the mask missed a name",
               mask + QStringLiteral(" against ") + name);
    FUZZ_CHECK(platform::MatchesMask(swapAsciiCase(mask), stored) == hit, "the mask's letter case matters",
               mask + QStringLiteral(" against ") + name);

    checkExclusion(QString::fromUtf8(parts.value(2)) + name, mask);
    if (parts.size() > 3)
        checkExclusion(QString::fromUtf8(parts[2]), QString::fromUtf8(parts[3]));
    return 0;
}
