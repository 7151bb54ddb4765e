#include "platform/bringforward.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <memory>

// Connecting to a copy's socket is the request; it carries no data.
namespace platform {

namespace {
std::unique_ptr<QLocalServer> g_server;
}

bool ServeBringForward(const QString &channel, std::function<void()> onRequest)
{
    StopServingBringForward();
    const QString name = BringForwardSocketName(channel, ApplicationHandle());
    if (name.isEmpty())
        return false;
    // Left by an earlier process that had this id and died.
    QLocalServer::removeServer(name);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name))
        return false;
    QObject::connect(server.get(), &QLocalServer::newConnection, server.get(),
                     [srv = server.get(), onRequest = std::move(onRequest)] {
                         while (QLocalSocket *peer = srv->nextPendingConnection()) {
                             peer->close();
                             peer->deleteLater();
                             if (onRequest)
                                 onRequest();
                         }
                     });
    g_server = std::move(server);
    return true;
}

void StopServingBringForward()
{
    g_server.reset(); // closing removes the socket file
}

} // namespace platform
