#include "platform/journal.h"

#include <systemd/sd-journal.h>

#include <sys/uio.h>
#include <vector>

namespace platform {

const char EventLogHint[] = "Logons, log-offs and errors go to the system journal: journalctl -t tavrologin";

void LogEvent(LogPriority priority, const QString &message, const LogFields &fields)
{
    // Every line is built whole first: sd_journal_sendv takes "NAME=value" entries,
    // and a value may hold any bytes, line breaks included.
    std::vector<QByteArray> lines;
    lines.reserve(fields.size() + 3);
    lines.push_back(QByteArrayLiteral("MESSAGE=") + message.toUtf8());
    lines.push_back(QByteArrayLiteral("PRIORITY=") + QByteArray::number(int(priority)));
    lines.push_back(QByteArrayLiteral("SYSLOG_IDENTIFIER=tavrologin"));
    for (const auto &field : fields)
        lines.push_back(field.first + '=' + field.second.toUtf8());
    std::vector<iovec> entries;
    entries.reserve(lines.size());
    for (QByteArray &line : lines)
        entries.push_back({line.data(), size_t(line.size())});
    (void)sd_journal_sendv(entries.data(), int(entries.size()));
}

} // namespace platform
