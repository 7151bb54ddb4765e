#include "platform/paths.h"

namespace platform {

QString IncludeTrailingPathDelimiter(const QString &path)
{
    return path.endsWith(PathDelim) ? path : path + PathDelim;
}

static qsizetype LastDelimiter(const QString &path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (path[i] == PathDelim || path[i] == QLatin1Char(':'))
            return i;
    }
    return -1;
}

QString ExtractFilePath(const QString &path)
{
    return path.left(LastDelimiter(path) + 1);
}

QString ExtractFileName(const QString &path)
{
    return path.mid(LastDelimiter(path) + 1);
}

bool IsUncPath(const QString &path)
{
    return path.startsWith(QLatin1String("\\\\"));
}

} // namespace platform
