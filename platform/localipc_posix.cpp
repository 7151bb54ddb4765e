#include "platform/localipc.h"

#include <QFile>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A real folder (no link) of this user's that nobody else may enter.
bool PrivateFolder(const QByteArray &path, bool create)
{
    if (create && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

} // namespace

QString PrivateSocketName(const QString &name)
{
    QByteArray base = qgetenv("XDG_RUNTIME_DIR");
    if (!base.startsWith('/') || !PrivateFolder(base, false)) {
        // No session runtime folder: one of our own in /tmp, refused if someone else made it.
        base = "/tmp/tavrologin-" + QByteArray::number(::geteuid());
        if (!PrivateFolder(base, true))
            return QString();
    }
    const QByteArray folder = base + "/tavrologin";
    if (!PrivateFolder(folder, true))
        return QString();
    return QFile::decodeName(folder) + QLatin1Char('/') + name;
}

bool PeerIsSameUser(qintptr descriptor)
{
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return false;
    return cred.uid == ::geteuid();
}

} // namespace platform
