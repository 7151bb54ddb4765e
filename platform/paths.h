#pragma once

#include <QString>

// Paths above this layer are either UNC paths on a server (\\server\share\..., shown to
// users exactly so) or local native paths joined with PathDelim.
namespace platform {

extern const QChar PathDelim;

QString IncludeTrailingPathDelimiter(const QString &path);
// The folder part up to and including the last PathDelim or ':'.
QString ExtractFilePath(const QString &path);
// The name after the last PathDelim or ':'.
QString ExtractFileName(const QString &path);

bool IsUncPath(const QString &path);

// File helpers; a UNC path goes to the network provider, anything else to the local file system.
bool FileExists(const QString &path);       // a regular file, not a folder
bool DirectoryExists(const QString &path);
bool ForceDirectories(const QString &path); // creates missing parents too
bool DeleteFile(const QString &path);

// Full path of the running program's file.
QString ExecutablePath();

} // namespace platform
