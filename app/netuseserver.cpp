#include "app/netuseserver.h"

#include <QScopeGuard>

#include "platform/netprovider.h"

namespace {

const QString SocketBaseName = QStringLiteral("net-use");
constexpr int RequestTimeoutMs = 5000;

QString Failure(quint32 code, const QString &names)
{
    return QStringLiteral("System error %1 (%2): %3\n").arg(code).arg(names, platform::NetErrorText(code));
}

QString ListText(const QList<platform::NetConnection> &connections)
{
    if (connections.isEmpty())
        return QStringLiteral("There are no entries in the list.\n");
    QString text = QStringLiteral("%1%2%3\n").arg(QStringLiteral("Status"), -13).arg(QStringLiteral("Local"), -10).arg(QStringLiteral("Remote"));
    text += QString(60, QLatin1Char('-')) + QLatin1Char('\n');
    for (const platform::NetConnection &c : connections)
        text += QStringLiteral("%1%2%3\n").arg(QStringLiteral("OK"), -13).arg(c.local, -10).arg(c.remote);
    return text + QStringLiteral("The command completed successfully.\n");
}

} // namespace

TNetUseServer::TNetUseServer(QObject *parent) : QObject(parent) {}

TNetUseServer::~TNetUseServer() = default;

bool TNetUseServer::Listen()
{
    m_name = platform::PrivateSocketName(SocketBaseName);
    if (m_name.isEmpty())
        return false;
    // A socket left by a copy that crashed is taken over; one that answers is not.
    if (platform::LocalSocketAnswers(m_name, 500))
        return false;
    delete m_server;
    m_server = new platform::LocalRequestServer(MaxNetUseLine, RequestTimeoutMs, this);
    m_server->OnRequest = [this](platform::LocalRequestServer::Client client, const QByteArray &line, bool sameUser) {
        Take(client, line, sameUser);
    };
    return m_server->Listen(m_name);
}

void TNetUseServer::Take(platform::LocalRequestServer::Client client, const QByteArray &line, bool sameUser)
{
    if (!sameUser) {
        if (Log)
            Log(platform::LogWarning, QStringLiteral("A net use request from another user was refused"));
        m_server->Reply(client, EncodeNetUseReply({2, Failure(platform::NET_ERROR_ACCESS_DENIED, QStringLiteral("net use"))}));
        return;
    }
    const std::optional<TNetUseRequest> request = DecodeNetUseRequest(line);
    if (!request) {
        m_server->Reply(client, EncodeNetUseReply({2, QStringLiteral("The request is not understood.\n")}));
        return;
    }
    m_queue.emplace_back(client, *request);
    ServeQueued();
}

void TNetUseServer::ServeQueued()
{
    // One request at a time: a mount waits with window messages flowing, and a second
    // request arriving meanwhile must not race it for the same letter.
    if (m_serving)
        return;
    m_serving = true;
    const auto done = qScopeGuard([this] { m_serving = false; });
    while (!m_queue.empty()) {
        const auto [client, request] = m_queue.front();
        m_queue.pop_front();
        // A script that gave up is not acted for.
        if (!m_server->Waiting(client)) {
            m_server->Reply(client, QByteArray());
            continue;
        }
        m_server->Reply(client, EncodeNetUseReply(Handle(request)));
    }
}

TNetUseReply TNetUseServer::Handle(const TNetUseRequest &request)
{
    const auto log = [this](platform::LogPriority priority, const QString &message) {
        if (Log)
            Log(priority, message);
    };
    switch (request.kind) {
    case TNetUseRequest::List:
        return {0, ListText(platform::ListConnections())};
    case TNetUseRequest::Delete: {
        const quint32 code = platform::CancelConnection(request.remote, true);
        if (code != platform::NET_NO_ERROR) {
            log(platform::LogWarning, QStringLiteral("Dropping %1 failed: %2").arg(request.remote, platform::NetErrorText(code)));
            return {2, Failure(code, request.remote)};
        }
        log(platform::LogNotice, QStringLiteral("Dropped %1").arg(request.remote));
        return {0, QStringLiteral("%1 was deleted successfully.\n").arg(request.remote)};
    }
    case TNetUseRequest::Map:
        break;
    }
    QString local = request.local;
    quint32 code = platform::NET_ERROR_ALREADY_ASSIGNED;
    if (local == QLatin1String("*")) {
        // The next free letter from Z: down, as Windows picks it.
        for (char letter = 'Z'; letter >= 'E' && code == platform::NET_ERROR_ALREADY_ASSIGNED; --letter) {
            local = QString(QLatin1Char(letter)) + QLatin1Char(':');
            code = platform::AddConnectionForSession(local, request.remote);
        }
    } else {
        code = platform::AddConnectionForSession(local, request.remote);
    }
    const QString names = local.isEmpty() ? request.remote : local + QLatin1Char(' ') + request.remote;
    if (code != platform::NET_NO_ERROR) {
        log(platform::LogWarning, QStringLiteral("Mapping %1 failed: %2").arg(names, platform::NetErrorText(code)));
        return {2, Failure(code, names)};
    }
    log(platform::LogNotice, local.isEmpty() ? QStringLiteral("Connected %1").arg(request.remote)
                                             : QStringLiteral("Drive %1 mapped to %2").arg(local, request.remote));
    QString text;
    if (request.local == QLatin1String("*"))
        text = QStringLiteral("Drive %1 is now connected to %2.\n\n").arg(local, request.remote);
    return {0, text + QStringLiteral("The command completed successfully.\n")};
}
