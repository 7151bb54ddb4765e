// The Windows command-line splitter. Invariants: the split words, quoted back the way a
// caller quotes arguments, split into the same words; the program word never holds a
// quote; a line of blanks has no words. The input also serves as a list of words
// (separated by NUL) that must survive quoting and splitting unchanged.
#include "fuzzcheck.h"
#include "platform/process.h"

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString quoteProgram(const QString &program)
{
    return program.isEmpty() || std::any_of(program.begin(), program.end(), isBlank)
               ? u'"' + program + u'"'
               : program;
}

// Quoting as CommandLineToArgvW reads it back: backslashes double only before a quote.
QString quoteArgument(const QString &arg)
{
    if (!arg.isEmpty() && !std::any_of(arg.begin(), arg.end(), [](QChar c) { return isBlank(c) || c == u'"'; }))
        return arg;
    QString out = QStringLiteral("\"");
    qsizetype slashes = 0;
    for (QChar c : arg) {
        if (c == u'\\') {
            ++slashes;
            continue;
        }
        if (c == u'"')
            out += QString(slashes * 2 + 1, u'\\');
        else
            out += QString(slashes, u'\\');
        slashes = 0;
        out += c;
    }
    out += QString(slashes * 2, u'\\');
    return out + u'"';
}

QString join(const QStringList &words)
{
    QString line = quoteProgram(words.front());
    for (qsizetype i = 1; i < words.size(); ++i)
        line += u' ' + quoteArgument(words[i]);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString line = QString::fromUtf8(bytes);

    const QStringList words = platform::SplitCommandLine(line);
    const bool allBlank = std::all_of(line.begin(), line.end(), isBlank);
    FUZZ_CHECK(words.isEmpty() == allBlank, "words of a blank line", line);
    if (!words.isEmpty()) {
        // A quote only opens the program word at its start; inside it, it is a letter.
        const auto first = std::find_if_not(line.begin(), line.end(), isBlank);
        const bool opened = first != line.end() && *first == u'"';
        FUZZ_CHECK(!opened || !words.front().contains(u'"'), "a quote in a quoted program word", line);
        const QString again = join(words);
        FUZZ_CHECK(platform::SplitCommandLine(again) == words, "re-quoted words split differently",
                   line + QStringLiteral("\n -> ") + again);
    }

    // The same bytes as words. A program word with a blank is quoted and so holds no quote;
    // one without cannot start with a quote.
    QStringList given = line.split(QChar(0));
    QString &program = given.front();
    if (program.isEmpty() || std::any_of(program.begin(), program.end(), isBlank))
        program.remove(u'"');
    while (program.startsWith(u'"'))
        program.remove(0, 1);
    const QString built = join(given);
    FUZZ_CHECK(platform::SplitCommandLine(built) == given, "quoted words split differently", built);
    return 0;
}
