#include "platform/localipc.h"

#include "platform/runtimefolder.h"

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

const bool ServesNetUse = true;

QString PrivateSocketName(const QString &name)
{
    const QString base = PrivateRuntimeFolder();
    if (base.isEmpty())
        return QString();
    // A folder of the program's own inside it, just as private.
    const QString folder = base + QStringLiteral("/tavrologin");
    return MakePrivateFolder(folder) ? folder + QLatin1Char('/') + name : QString();
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
