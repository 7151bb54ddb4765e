#include "app/netuse.h"

#include <QCoreApplication>
#include <cstdio>

#include "app/netuserequest.h"
#include "platform/localipc.h"
#include "platform/netprovider.h"

namespace {

// A mount may wait for the network timeout, behind a request of another script.
constexpr int ReplyTimeoutMs = 3 * platform::DefaultNetTimeoutMs;

int Fail(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("tavrologin net use: ") + text + QLatin1Char('\n')), stderr);
    return 2;
}

} // namespace

int RunNetUseCommand(int argc, char **argv)
{
    if (argc < 3 || QByteArray(argv[1]).toLower() != "net" || QByteArray(argv[2]).toLower() != "use")
        return -1;
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(3);
    QString error;
    const std::optional<TNetUseRequest> request = ParseNetUseArguments(args, &error);
    if (!request)
        return Fail(error);
    const QString name = platform::PrivateSocketName(QStringLiteral("net-use"));
    QByteArray answer;
    const platform::LocalRequestResult sent =
        name.isEmpty() ? platform::LocalRequestResult::NoServer
                       : platform::SendLocalRequest(name, EncodeNetUseRequest(*request), ReplyTimeoutMs, &answer);
    if (sent == platform::LocalRequestResult::NoServer)
        return Fail(QStringLiteral("no running Tavro Login client answers: start it and log on first."));
    if (sent == platform::LocalRequestResult::NotTaken)
        return Fail(QStringLiteral("the running client did not take the request."));
    const std::optional<TNetUseReply> reply = DecodeNetUseReply(answer);
    if (!reply)
        return Fail(QStringLiteral("the running client gave no answer."));
    std::fputs(qPrintable(reply->text), reply->exitCode == 0 ? stdout : stderr);
    return reply->exitCode;
}
