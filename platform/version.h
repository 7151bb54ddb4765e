#pragma once

#include <QString>

namespace platform {

struct FileVersion {
    quint16 major = 0, minor = 0, release = 0, build = 0;
};

// The version embedded in an executable at build time; zeros for a file without one
// or a missing file. Never fails.
FileVersion ReadFileVersion(const QString &path);
// The running program's own version: the tag compiled into it, no file read.
FileVersion RunningVersion();

} // namespace platform
