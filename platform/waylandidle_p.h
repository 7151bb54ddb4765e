#pragma once

#include <QtGlobal>

#include <optional>

namespace platform {

// The idle time a Wayland compositor pushes through ext-idle-notify, on a connection of
// our own; nullopt while it offers none (no compositor, no such protocol, or it went away).
// Window thread only.
std::optional<quint32> WaylandNotifiedIdle();

} // namespace platform
