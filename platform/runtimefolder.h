#pragma once

#include <QString>

namespace platform {

// A folder of this user's own that no other user can enter or plant anything in: the
// session's runtime folder when it is set and private, otherwise a private folder made
// for this user in the machine's shared-memory or temporary folder, otherwise in the
// user's cache folder. Empty when none of these can be had.
QString PrivateRuntimeFolder();
// Makes the folder (0700) unless it is there; true when it is then this user's own, no
// link, and closed to everyone else. One another user made first is never taken over.
bool MakePrivateFolder(const QString &path);

} // namespace platform
