// findfile: drives TFindFile from the command line, one full path per find.
#include "components/FindFile.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] = "usage: findfile [--threaded] [--no-subfolders] [--exclude PATTERN]... "
                      "[--containing TEXT] [--case-sensitive] [--size-min N] [--size-max N] LOCATION MASK\n";

int Usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "findfile: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseSize(const char *text, qint32 &out)
{
    bool ok = false;
    out = QByteArray(text).toInt(&ok);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Finds go out in large writes; the tool is often piped into other tools.
    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);

    TFindFile finder;
    QStringList excludes;
    QStringList positional;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](const char *option) -> const QString * {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "findfile: %s needs a value\n", option);
                return nullptr;
            }
            return &args[++i];
        };
        if (a == QLatin1String("--threaded")) {
            finder.setThreaded(true);
        } else if (a == QLatin1String("--no-subfolders")) {
            finder.setSubfolders(false);
        } else if (a == QLatin1String("--case-sensitive")) {
            finder.setIgnoreCase(false);
        } else if (a == QLatin1String("--exclude")) {
            const QString *v = value("--exclude");
            if (!v)
                return Usage(nullptr);
            excludes << *v;
        } else if (a == QLatin1String("--containing")) {
            const QString *v = value("--containing");
            if (!v)
                return Usage(nullptr);
            finder.setContaining(*v);
        } else if (a == QLatin1String("--size-min") || a == QLatin1String("--size-max")) {
            const bool isMin = a == QLatin1String("--size-min");
            const QString *v = value(isMin ? "--size-min" : "--size-max");
            qint32 n = 0;
            if (!v || !ParseSize(v->toLocal8Bit().constData(), n))
                return Usage("a size is a whole number of bytes (32-bit)");
            isMin ? finder.setSizeMin(n) : finder.setSizeMax(n);
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.startsWith(QLatin1String("--"))) {
            return Usage(("unknown option " + a.toLocal8Bit()).constData());
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2)
        return Usage("LOCATION and MASK are required");

    try {
        finder.setLocation(positional[0]);
        finder.setFilename(positional[1]);
    } catch (const EFindFileError &e) {
        std::fprintf(stderr, "findfile: %s\n", e.what());
        return 2;
    }
    finder.setExcludeFiles(excludes);

    finder.OnFound = [](QObject *, const QString &folder, TSearchRec &rec) {
        const QByteArray line = (platform::IncludeTrailingPathDelimiter(folder) + rec.Name).toUtf8();
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
        std::fputc('\n', stdout);
    };
    finder.OnComplete = [&finder](QObject *) {
        if (finder.Threaded())
            QCoreApplication::quit();
    };

    finder.Execute();
    if (finder.Threaded() && finder.Busy())
        app.exec();
    std::fflush(stdout);
    if (finder.Aborted()) {
        std::fputs("findfile: the search was stopped by an error\n", stderr);
        return 1;
    }
    return 0;
}
