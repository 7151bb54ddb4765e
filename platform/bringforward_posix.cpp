#include "platform/bringforward.h"

#include "platform/runtimefolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

// A copy is reached through a local socket in the user's runtime folder named after the
// program's channel and the copy's process id; connecting is the request. A stale id
// finds no socket, or nobody listening, and nothing happens. The folder is the user's own
// (mode 0700), so no other user can send requests or plant a socket.

namespace platform {

QString BringForwardSocketName(const QString &channel, quint32 handle)
{
    const QByteArray tag = QCryptographicHash::hash(channel.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    const QString folder = PrivateRuntimeFolder();
    if (folder.isEmpty())
        return QString(); // nowhere safe: no requests either way
    return QDir(folder).filePath(QStringLiteral("tavro-%1-%2").arg(QString::fromLatin1(tag)).arg(handle));
}

quint32 ApplicationHandle()
{
    return quint32(::getpid());
}

void BringForward(const QString &channel, quint32 handle)
{
    if (handle == 0 || handle == ApplicationHandle())
        return;
    QLocalSocket socket;
    socket.connectToServer(BringForwardSocketName(channel, handle));
    // A local connect completes at once or fails; the short wait only covers a full backlog.
    if (socket.waitForConnected(200))
        socket.disconnectFromServer();
}

} // namespace platform
