#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// Asking another copy of the program to bring its window to the front.
namespace platform {

// How other copies address this copy's application window (the process id on POSIX).
quint32 ApplicationHandle();

// Makes this copy reachable as ApplicationHandle() on CHANNEL (one per program): each
// request from another copy runs onRequest on the window thread. Replaces an earlier one.
// False when this copy cannot be reached.
bool ServeBringForward(const QString &channel, std::function<void()> onRequest);
void StopServingBringForward();

// The local socket (named pipe on Windows) through which the copy behind HANDLE on
// CHANNEL is reached; empty when no safe place for one exists.
QString BringForwardSocketName(const QString &channel, quint32 handle);

// Asks the copy behind HANDLE on CHANNEL to restore its window if minimised and bring it
// forward. Does nothing when no such copy is running; never waits for it to act.
void BringForward(const QString &channel, quint32 handle);

} // namespace platform
