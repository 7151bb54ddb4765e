#include "platform/bringforward.h"

#include "platform/runtimefolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <memory>
#include <unistd.h>

// A copy is reached through a local socket in the user's runtime folder named after the
// program's channel and the copy's process id; connecting is the request. A stale id
// finds no socket, or nobody listening, and nothing happens. The folder is the user's own
// (mode 0700), so no other user can send requests or plant a socket.

namespace platform {

namespace {

std::unique_ptr<QLocalServer> g_server;

QString SocketPath(const QString &channel, quint32 handle)
{
    const QByteArray tag = QCryptographicHash::hash(channel.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    const QString folder = PrivateRuntimeFolder();
    if (folder.isEmpty())
        return QString(); // nowhere safe: no requests either way
    return QDir(folder).filePath(QStringLiteral("tavro-%1-%2").arg(QString::fromLatin1(tag)).arg(handle));
}

} // namespace

quint32 ApplicationHandle()
{
    return quint32(::getpid());
}

bool ServeBringForward(const QString &channel, std::function<void()> onRequest)
{
    StopServingBringForward();
    const QString path = SocketPath(channel, ApplicationHandle());
    // Left by an earlier process that had this id and died.
    QLocalServer::removeServer(path);
    auto server = std::make_unique<QLocalServer>();
    if (!server->listen(path))
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

void BringForward(const QString &channel, quint32 handle)
{
    if (handle == 0 || handle == ApplicationHandle())
        return;
    QLocalSocket socket;
    socket.connectToServer(SocketPath(channel, handle));
    // A local connect completes at once or fails; the short wait only covers a full backlog.
    if (socket.waitForConnected(200))
        socket.disconnectFromServer();
}

} // namespace platform
