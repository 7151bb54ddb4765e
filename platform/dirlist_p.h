#pragma once

#include "platform/dirlist.h"

// What both folder listings share: the wildcard rules and the local-time conversion.
namespace platform {

class MaskMatcher {
public:
    explicit MaskMatcher(const QString &mask);
    // A name as POSIX stores it: UTF-8 bytes.
    bool Matches(const char *name, qsizetype len) const;
    bool Matches(const QString &name) const;

private:
    bool m_all;
    bool m_asciiValid = false;
    QString m_upper;
    QByteArray m_ascii;
};

struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, ms = 0;
};
// A UTC file time in the local time zone, with the offset in force on that date; each
// backend asks its own system.
bool ToLocalTime(FileTime time, LocalTime &out);

} // namespace platform
