#pragma once

#include <QString>

#include "platform/journal.h"

// A logon-session event of the login window in the system journal, with the profile,
// the current profile's server and the user name as fields; never a password.
void LogSessionEvent(platform::LogPriority priority, const QString &message, const QString &profile,
                     const QString &user);
