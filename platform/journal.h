#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace platform {

// syslog priorities: what an administrator filters on (journalctl -p).
enum LogPriority { LogError = 3, LogWarning = 4, LogNotice = 5, LogInfo = 6 };

// Extra fields of an event: upper-case names (A-Z, 0-9, _) and their text.
using LogFields = QList<QPair<QByteArray, QString>>;

// The field names every event of a logon session uses.
inline const QByteArray LogFieldProfile = QByteArrayLiteral("TAVRO_PROFILE");
inline const QByteArray LogFieldServer = QByteArrayLiteral("TAVRO_SERVER");
inline const QByteArray LogFieldUser = QByteArrayLiteral("TAVRO_USER");

// Where an administrator reads the events, for the help text.
extern const char EventLogHint[];

// One event in the system log under the identifier "tavrologin". Never give it a
// password. Best effort: without a system log nothing happens.
void LogEvent(LogPriority priority, const QString &message, const LogFields &fields = {});

} // namespace platform
