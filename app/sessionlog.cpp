#include "app/sessionlog.h"

#include "config/inifile.h"

void LogSessionEvent(platform::LogPriority priority, const QString &message, const QString &profile,
                     const QString &user)
{
    const QString &server = ProfileSettings.ProfileServer;
    platform::LogEvent(priority,
                       message + QStringLiteral(" (profile ") + profile + QStringLiteral(", server ") + server +
                           QStringLiteral(", user ") + user + QLatin1Char(')'),
                       {{platform::LogFieldProfile, profile},
                        {platform::LogFieldServer, server},
                        {platform::LogFieldUser, user}});
}
