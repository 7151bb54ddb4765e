#pragma once

#include <QIODevice>
#include <QString>
#include <memory>

namespace platform {

// Opens a file for sequential reading, local or UNC. Throws EInOutError with a
// Windows-style code (2 file not found, 3 path not found, 5 access denied).
std::unique_ptr<QIODevice> OpenReadStream(const QString &path);

// Maps an errno value to the Windows-style I/O error code and standard text.
int InOutCodeFromErrno(int err);
QString InOutErrorText(int code);

} // namespace platform
