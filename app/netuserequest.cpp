#include "app/netuserequest.h"

namespace {

// A drive letter is A to Z in either case: toUpper would also let "\u0131:" through as I:.
bool IsDrive(const QString &s)
{
    if (s.size() != 2 || s[1] != QLatin1Char(':'))
        return false;
    const char16_t c = s[0].unicode();
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// \\SERVER\...: a server name must follow the two backslashes.
bool IsRemote(const QString &s)
{
    return s.size() > 2 && s.startsWith(QLatin1String("\\\\")) && s[2] != QLatin1Char('\\');
}

bool HasControl(const QString &s)
{
    for (QChar c : s) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

bool Valid(const TNetUseRequest &r)
{
    if (HasControl(r.local) || HasControl(r.remote))
        return false;
    switch (r.kind) {
    case TNetUseRequest::List: return r.local.isEmpty() && r.remote.isEmpty();
    case TNetUseRequest::Map:
        return IsRemote(r.remote) && (r.local.isEmpty() || r.local == QLatin1String("*") || IsDrive(r.local));
    case TNetUseRequest::Delete: return r.local.isEmpty() && (IsDrive(r.remote) || IsRemote(r.remote));
    }
    return false;
}

const char *KindWord(TNetUseRequest::Kind kind)
{
    switch (kind) {
    case TNetUseRequest::Map: return "use";
    case TNetUseRequest::Delete: return "delete";
    case TNetUseRequest::List: break;
    }
    return "list";
}

} // namespace

std::optional<TNetUseRequest> ParseNetUseArguments(const QStringList &args, QString *error)
{
    TNetUseRequest r;
    QStringList names;
    bool remove = false;
    for (const QString &arg : args) {
        if (!arg.startsWith(QLatin1Char('/'))) {
            names.append(arg);
            continue;
        }
        const QString option = arg.toLower();
        if (option == QLatin1String("/delete") || option == QLatin1String("/d")) {
            remove = true;
        } else if (option.startsWith(QLatin1String("/persistent:")) || option == QLatin1String("/y")
                   || option == QLatin1String("/n")) {
            // Nothing is remembered across sessions here; no question is ever asked.
        } else if (option.startsWith(QLatin1String("/user:")) || option.startsWith(QLatin1String("/u:"))
                   || option.startsWith(QLatin1String("/savecred"))) {
            *error = QStringLiteral("tavrologin net use takes no credentials: the running client connects with the "
                                    "session it holds for the server.");
            return std::nullopt;
        } else {
            *error = QStringLiteral("unknown option %1.").arg(arg);
            return std::nullopt;
        }
    }
    // A password given as a word after the share is refused the same way.
    if (names.size() > 2) {
        *error = QStringLiteral("too many names: tavrologin net use [DRIVE:] [\\\\SERVER\\SHARE] [/delete].");
        return std::nullopt;
    }
    if (remove) {
        r.kind = TNetUseRequest::Delete;
        if (names.size() == 1)
            r.remote = names[0];
    } else if (!names.isEmpty()) {
        r.kind = TNetUseRequest::Map;
        if (names.size() == 2) {
            r.local = names[0];
            r.remote = names[1];
        } else {
            r.remote = names[0];
        }
    }
    if (r.kind == TNetUseRequest::Map && r.local.isEmpty() && IsDrive(r.remote)) {
        *error = QStringLiteral("%1 needs a share to connect to: tavrologin net use %1 \\\\SERVER\\SHARE.").arg(r.remote);
        return std::nullopt;
    }
    if (!Valid(r)) {
        *error = QStringLiteral("the names are not a drive (H:) and a share (\\\\SERVER\\SHARE).");
        return std::nullopt;
    }
    if (r.kind != TNetUseRequest::List && IsDrive(r.local))
        r.local = r.local.toUpper();
    if (r.kind == TNetUseRequest::Delete && IsDrive(r.remote))
        r.remote = r.remote.toUpper();
    return r;
}

QByteArray EncodeNetUseRequest(const TNetUseRequest &request)
{
    return QByteArray(KindWord(request.kind)) + '\t' + request.local.toUtf8() + '\t' + request.remote.toUtf8() + '\n';
}

std::optional<TNetUseRequest> DecodeNetUseRequest(const QByteArray &line)
{
    if (line.size() > MaxNetUseLine || !line.endsWith('\n'))
        return std::nullopt;
    const QByteArray body = line.chopped(1);
    const QList<QByteArray> fields = body.split('\t');
    if (fields.size() != 3)
        return std::nullopt;
    TNetUseRequest r;
    if (fields[0] == "use")
        r.kind = TNetUseRequest::Map;
    else if (fields[0] == "delete")
        r.kind = TNetUseRequest::Delete;
    else if (fields[0] == "list")
        r.kind = TNetUseRequest::List;
    else
        return std::nullopt;
    // Text that is not UTF-8 would not name the share it seems to.
    if (QString::fromUtf8(fields[1]).toUtf8() != fields[1] || QString::fromUtf8(fields[2]).toUtf8() != fields[2])
        return std::nullopt;
    r.local = QString::fromUtf8(fields[1]);
    r.remote = QString::fromUtf8(fields[2]);
    if (!Valid(r))
        return std::nullopt;
    return r;
}

QByteArray EncodeNetUseReply(const TNetUseReply &reply)
{
    return QByteArray::number(reply.exitCode) + '\n' + reply.text.toUtf8();
}

std::optional<TNetUseReply> DecodeNetUseReply(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf('\n');
    if (end <= 0)
        return std::nullopt;
    bool ok = false;
    TNetUseReply reply;
    reply.exitCode = bytes.left(end).toInt(&ok);
    if (!ok)
        return std::nullopt;
    reply.text = QString::fromUtf8(bytes.mid(end + 1));
    return reply;
}
