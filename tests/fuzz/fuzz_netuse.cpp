// The line a logon script's `tavrologin net use` sends to the running copy. Invariants:
// a line the copy accepts encodes back to the very same bytes and names what the kind
// needs (a drive A: to Z:, "*", or a share \\SERVER\...), with no control character;
// words the command accepts travel over the line unchanged.
#include "fuzzcheck.h"
#include "app/netuserequest.h"

namespace {

bool isDrive(const QString &s)
{
    if (s.size() != 2 || s[1] != u':')
        return false;
    const char16_t c = s[0].unicode();
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isShare(const QString &s)
{
    return s.size() > 2 && s.startsWith(QLatin1String("\\\\")) && s[2] != u'\\';
}

bool hasControl(const QString &s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0); });
}

bool names(const TNetUseRequest &r)
{
    if (hasControl(r.local) || hasControl(r.remote))
        return false;
    switch (r.kind) {
    case TNetUseRequest::List: return r.local.isEmpty() && r.remote.isEmpty();
    case TNetUseRequest::Map: return isShare(r.remote) && (r.local.isEmpty() || r.local == u"*" || isDrive(r.local));
    case TNetUseRequest::Delete: return r.local.isEmpty() && (isDrive(r.remote) || isShare(r.remote));
    }
    return false;
}

QString describe(const TNetUseRequest &r)
{
    return QString::number(r.kind) + u' ' + r.local + u' ' + r.remote;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto r = DecodeNetUseRequest(line)) {
        FUZZ_CHECK(EncodeNetUseRequest(*r) == line, "an accepted line encodes differently",
                   QString::fromUtf8(line));
        FUZZ_CHECK(names(*r), "an accepted line names no valid drive or share", describe(*r));
    }

    // The same bytes as the command's words, one per line.
    QStringList args = QString::fromUtf8(line).split(u'\n');
    if (args.size() == 1 && args.front().isEmpty())
        args.clear();
    QString error;
    const auto parsed = ParseNetUseArguments(args, &error);
    FUZZ_CHECK(parsed.has_value() == error.isEmpty(), "an answer and an error together", args.join(u' '));
    if (parsed) {
        FUZZ_CHECK(names(*parsed), "accepted words name no valid drive or share", describe(*parsed));
        const QByteArray sent = EncodeNetUseRequest(*parsed);
        FUZZ_CHECK(sent.size() > MaxNetUseLine || DecodeNetUseRequest(sent) == parsed,
                   "the running copy reads another request than was sent", QString::fromUtf8(sent));
    }
    return 0;
}
