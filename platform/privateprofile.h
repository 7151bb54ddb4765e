#pragma once

#include <QString>

// The private-profile (INI file) operations: Windows' own functions there, and their
// rules everywhere else. Names are matched without regard to case; a read gives the
// value with blanks and one pair of quotes stripped, at most MaxProfileValueLength
// characters; a write replaces a key in place, appends a new key at the end of its
// section and a new section at the end of the file, keeps every other line as it was,
// and lands atomically. Off Windows a file is read as UTF-8 when it is valid UTF-8, as
// UTF-16 after its byte-order mark, and otherwise as Windows-1252; a write keeps the
// file's encoding, and a new file is UTF-8.
namespace platform {

constexpr int MaxProfileValueLength = 2047;

QString GetPrivateProfileString(const QString &section, const QString &key,
                                const QString &defaultValue, const QString &path);

// False when the file cannot be read or written, or when a name or the value would not
// fit on one line (a raw line break is never written).
bool WritePrivateProfileString(const QString &section, const QString &key,
                               const QString &value, const QString &path);

// Every write is already on disk when it returns; kept for callers that flush.
void FlushPrivateProfile(const QString &path);

// The blanks a read trims around names and values, shared by the backends.
bool IsProfileBlank(QChar c);
QString TrimProfileBlanks(const QString &s);
// Whether a write of these would read back as the same section, key and value.
bool ProfileEntryReadsBack(const QString &section, const QString &key, const QString &value);
// One-line form of a value that may hold line breaks, and its inverse. Plain values
// (no line break, not starting with the marker) are stored as they are.
QString EncodeProfileValue(const QString &value);
QString DecodeProfileValue(const QString &stored);

// The form of a stored value for a file that holds only the characters FITS accepts: as it
// is when every character fits, else the one-line form of what it stands for, with each
// other character (UTF-16 unit) written as "\uXXXX". DecodeProfileValue reverses it.
QString NarrowProfileValue(const QString &stored, bool (*fits)(QChar));

} // namespace platform
