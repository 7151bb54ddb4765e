#include "platform/process.h"

// On its own and portable, so that the splitter can be linked without the process launcher
// and both builds split alike.
namespace platform {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QStringList SplitCommandLine(const QString &commandLine)
{
    QStringList words;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;
    while (i < n && isBlank(commandLine[i]))
        ++i;
    if (i == n)
        return words;

    // The program name knows no escapes: quoted up to the next quote, else up to a blank.
    QString program;
    if (commandLine[i] == u'"') {
        ++i;
        while (i < n && commandLine[i] != u'"')
            program += commandLine[i++];
        if (i < n)
            ++i;
    } else {
        while (i < n && !isBlank(commandLine[i]))
            program += commandLine[i++];
    }
    words << program;

    for (;;) {
        while (i < n && isBlank(commandLine[i]))
            ++i;
        if (i == n)
            break;
        QString word;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            const QChar c = commandLine[i];
            if (c == u'\\') {
                qsizetype slashes = 0;
                while (i < n && commandLine[i] == u'\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && commandLine[i] == u'"') {
                    // 2n backslashes + quote: n backslashes, the quote delimits;
                    // 2n+1: n backslashes and a literal quote.
                    word += QString(slashes / 2, u'\\');
                    if (slashes % 2) {
                        word += u'"';
                        ++i;
                    }
                } else {
                    word += QString(slashes, u'\\');
                }
            } else if (c == u'"') {
                ++i;
                if (quoted && i < n && commandLine[i] == u'"') {
                    // "" inside quotes is a literal quote and ends the quoted part.
                    word += u'"';
                    ++i;
                    quoted = false;
                } else {
                    quoted = !quoted;
                }
            } else {
                word += c;
                ++i;
            }
        }
        words << word;
    }
    return words;
}

} // namespace platform
