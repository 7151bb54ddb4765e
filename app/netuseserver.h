#pragma once

#include <QObject>
#include <deque>
#include <functional>

#include "app/netuserequest.h"
#include "platform/journal.h"
#include "platform/localipc.h"

// The running copy's side of `tavrologin net use`: requests from this user's logon
// scripts over a private local socket, answered one at a time with the credentials of
// the session the copy holds for each server.
class TNetUseServer : public QObject {
    Q_OBJECT
public:
    explicit TNetUseServer(QObject *parent = nullptr);
    ~TNetUseServer() override;

    // Starts serving; false when the socket cannot be had (no private folder, or another
    // copy answers on it already).
    bool Listen();
    QString SocketName() const { return m_name; }

    // What one request does, and the answer for the script.
    TNetUseReply Handle(const TNetUseRequest &request);

    // Every drive mapped or dropped, and every refused request.
    std::function<void(platform::LogPriority, const QString &)> Log;

private:
    void Take(platform::LocalRequestServer::Client client, const QByteArray &line, bool sameUser);
    void ServeQueued();

    platform::LocalRequestServer *m_server = nullptr;
    QString m_name;
    std::deque<std::pair<platform::LocalRequestServer::Client, TNetUseRequest>> m_queue;
    bool m_serving = false;
};
