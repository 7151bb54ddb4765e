#include "platform/runtimefolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A real folder (not a link to one) of this user that nobody else may enter.
bool IsPrivate(const QByteArray &dir)
{
    struct stat st {};
    return ::lstat(dir.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) == 0;
}

// A folder another user made first under this name is never taken over.
bool MakePrivate(const QByteArray &dir)
{
    if (::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return IsPrivate(dir);
}

} // namespace

bool MakePrivateFolder(const QString &path)
{
    return MakePrivate(QFile::encodeName(path));
}

QString PrivateRuntimeFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && IsPrivate(runtime))
        return QFile::decodeName(runtime);
    const QByteArray own = "/tavro-" + QByteArray::number(::geteuid());
    for (const char *shared : {"/dev/shm", "/tmp"}) {
        if (MakePrivate(shared + own))
            return QFile::decodeName(shared + own);
    }
    QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (!cache.startsWith('/'))
        cache = qgetenv("HOME") + "/.cache";
    if (!cache.startsWith('/') || !QDir().mkpath(QFile::decodeName(cache)))
        return QString();
    cache += "/tavrologin";
    return MakePrivate(cache) ? QFile::decodeName(cache) : QString();
}

} // namespace platform
