#include "platform/console.h"

#include <cstdio>

#include <windows.h>

namespace platform {

void UseParentConsole()
{
    // Redirected output already has a handle; only a bare console needs attaching.
    if (GetStdHandle(STD_OUTPUT_HANDLE) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    (void)std::freopen("CONOUT$", "w", stdout);
    (void)std::freopen("CONOUT$", "w", stderr);
}

} // namespace platform
