#include "platform/bringforward.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <memory>

#include <windows.h>

// A copy is addressed by its process id. The request is a connect to that copy's named
// pipe (open to this user only), so a copy hidden in the notification area can show its
// window; the asking copy, which is in the foreground, lets it take the foreground and
// restores and raises its visible windows with ShowWindow / SetForegroundWindow.
namespace platform {

namespace {

std::unique_ptr<QLocalServer> g_server;

BOOL CALLBACK RaiseWindow(HWND window, LPARAM pid)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == DWORD(pid) && IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
        if (IsIconic(window))
            ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
    }
    return TRUE;
}

} // namespace

QString BringForwardSocketName(const QString &channel, quint32 handle)
{
    wchar_t user[257] = {};
    DWORD size = 257;
    GetUserNameW(user, &size);
    return QStringLiteral("tavro-%1-%2-%3").arg(channel, QString::fromWCharArray(user)).arg(handle);
}

quint32 ApplicationHandle()
{
    return quint32(GetCurrentProcessId());
}

void BringForward(const QString &channel, quint32 handle)
{
    if (handle == 0 || handle == ApplicationHandle())
        return;
    AllowSetForegroundWindow(DWORD(handle));
    QLocalSocket socket;
    socket.connectToServer(BringForwardSocketName(channel, handle));
    if (socket.waitForConnected(200))
        socket.disconnectFromServer();
    EnumWindows(RaiseWindow, LPARAM(handle));
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
