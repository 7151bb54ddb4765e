#include "platform/localipc.h"

namespace platform {

const bool ServesNetUse = false;

// Logon scripts on Windows map drives with the system's own net use: nothing to serve.
QString PrivateSocketName(const QString &)
{
    return QString();
}

bool PeerIsSameUser(qintptr)
{
    return false;
}

} // namespace platform
