#pragma once

#include <QString>

// Unix domain stream sockets by path, for the running copy's local sockets.
namespace platform {

// A non-blocking listening socket at PATH (a socket file left there is replaced), or -1.
int ListenUnixSocket(const QString &path);
// A connected blocking socket to PATH, or -1; a full backlog is waited for timeoutMs at most.
int ConnectUnixSocket(const QString &path, int timeoutMs);

} // namespace platform
