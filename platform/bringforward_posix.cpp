#include "platform/bringforward.h"

#include "platform/runtimefolder.h"
#include "platform/unixsocket_p.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

// A copy is reached through a local socket in the user's runtime folder named after the
// program's channel and the copy's process id; connecting is the request. A stale id
// finds no socket, or nobody listening, and nothing happens. The folder is the user's own
// (mode 0700), so no other user can send requests or plant a socket.

namespace platform {

namespace {

struct Listener {
    int fd = -1;
    QString path;
    QPointer<QSocketNotifier> notifier;
};
Listener g_listener;

} // namespace

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
    // A local connect completes at once or fails; the short wait only covers a full backlog.
    const int fd = ConnectUnixSocket(BringForwardSocketName(channel, handle), 200);
    if (fd >= 0)
        ::close(fd);
}

bool ServeBringForward(const QString &channel, std::function<void()> onRequest)
{
    StopServingBringForward();
    const QString name = BringForwardSocketName(channel, ApplicationHandle());
    if (name.isEmpty())
        return false;
    // A socket left by an earlier process that had this id and died is replaced.
    const int fd = ListenUnixSocket(name);
    if (fd < 0)
        return false;
    g_listener.fd = fd;
    g_listener.path = name;
    g_listener.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(g_listener.notifier, &QSocketNotifier::activated, g_listener.notifier,
                     [fd, onRequest = std::move(onRequest)] {
                         for (int peer; (peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                             ::close(peer);
                             if (onRequest)
                                 onRequest();
                         }
                     });
    return true;
}

void StopServingBringForward()
{
    if (g_listener.fd < 0)
        return;
    delete g_listener.notifier;
    ::close(g_listener.fd);
    ::unlink(QFile::encodeName(g_listener.path).constData());
    g_listener = Listener();
}

} // namespace platform
