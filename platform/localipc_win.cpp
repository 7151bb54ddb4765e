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

bool LocalSocketAnswers(const QString &, int)
{
    return false;
}

LocalRequestResult SendLocalRequest(const QString &, const QByteArray &, int, QByteArray *)
{
    return LocalRequestResult::NoServer;
}

struct LocalRequestServer::Impl {};

LocalRequestServer::LocalRequestServer(qsizetype, int, QObject *parent) : QObject(parent) {}

LocalRequestServer::~LocalRequestServer() = default;

bool LocalRequestServer::Listen(const QString &)
{
    return false;
}

bool LocalRequestServer::Waiting(Client) const
{
    return false;
}

void LocalRequestServer::Reply(Client, const QByteArray &) {}

} // namespace platform
