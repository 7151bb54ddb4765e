#pragma once

#include <functional>

namespace platform {

// Calls handler on the window thread when the desktop session ends the program
// (SIGTERM, SIGHUP or SIGINT off Windows), so it closes as by its close box.
void OnSessionEnd(std::function<void()> handler);

} // namespace platform
