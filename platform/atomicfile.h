#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file at PATH with BYTES whole or not at all: a temporary file beside it is
// written and renamed over it, so a crash or a full disk leaves the old file as it was.
// A file that exists keeps its mode, its group and, when the writer may set it, its owner.
// A new file in a folder a group shares (set-group-ID or group-writable) is made 0664
// with the folder's group, elsewhere 0644: the writer's umask plays no part.
// False when any step fails; the old file is then untouched and no temporary file is left.
bool ReplaceFileContents(const QString &path, const QByteArray &bytes);

} // namespace platform
