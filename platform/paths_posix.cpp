#include "platform/paths.h"

#include "platform/netprovider.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool FileExists(const QString &path)
{
    if (IsUncPath(path))
        return NetFileExists(path);
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const QString &path)
{
    if (IsUncPath(path))
        return NetDirectoryExists(path);
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const QString &path)
{
    if (path.isEmpty() || IsUncPath(path))
        return false;
    return QDir().mkpath(path);
}

bool DeleteFile(const QString &path)
{
    if (IsUncPath(path))
        return NetDeleteFile(path);
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

QString ExecutablePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buf, int(n)));
}

} // namespace platform
