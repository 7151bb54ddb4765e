#pragma once

#include <QString>

namespace platform {

// The fixed file name of the client's program in its folder ("tavrologin.exe" on
// Windows), whose version is recorded whatever name the running program has.
extern const QString ProgramFileName;

} // namespace platform
