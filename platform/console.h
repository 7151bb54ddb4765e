#pragma once

namespace platform {

// Standard output reaches the console the program was started from, also when the
// program has none of its own (a windowed program on Windows).
void UseParentConsole();

} // namespace platform
