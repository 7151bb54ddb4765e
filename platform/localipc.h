#pragma once

#include <QString>
#include <QtGlobal>

// The running copy's local socket, which only its own user may reach.
namespace platform {

// Whether the running copy serves `tavrologin net use` (not where scripts have the
// system's own net use).
extern const bool ServesNetUse;

// Full name of the local socket `name` in a folder only this user can enter; empty when
// no such folder can be had (or, on Windows, where scripts use the system's net use).
QString PrivateSocketName(const QString &name);
// The peer of a connected local socket runs as this process's user.
bool PeerIsSameUser(qintptr descriptor);

} // namespace platform
