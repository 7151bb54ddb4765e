#include "platform/journal.h"

#include <QStringList>

#include <windows.h>

// Events go to the Application event log under the source "tavrologin"; the fields
// follow the message as NAME=value lines, so they can be filtered on in the viewer.
namespace platform {

const char EventLogHint[] = "Logons, log-offs and errors go to the Application event log, source tavrologin";

void LogEvent(LogPriority priority, const QString &message, const LogFields &fields)
{
    static const HANDLE source = RegisterEventSourceW(nullptr, L"tavrologin");
    if (!source)
        return;
    QStringList lines {message};
    for (const auto &field : fields)
        lines.append(QString::fromLatin1(field.first) + QLatin1Char('=') + field.second);
    const std::wstring text = lines.join(QLatin1String("\r\n")).toStdWString();
    const wchar_t *strings[] = {text.c_str()};
    const WORD type = priority <= LogError ? EVENTLOG_ERROR_TYPE
        : priority == LogWarning           ? EVENTLOG_WARNING_TYPE
                                           : EVENTLOG_INFORMATION_TYPE;
    ReportEventW(source, type, 0, 0, nullptr, 1, 0, strings, nullptr);
}

} // namespace platform
