#include "platform/console.h"

namespace platform {

void UseParentConsole()
{
    // Standard output is always the starter's here.
}

} // namespace platform
