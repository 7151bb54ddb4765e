#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

// The running copy's local socket, which only its own user may reach.
namespace platform {

// Whether the running copy serves `tavrologin net use` (not where scripts have the
// system's own net use).
extern const bool ServesNetUse;

// Full name of the local socket `name` in a folder only this user can enter; empty when
// no such folder can be had (or, on Windows, where scripts use the system's net use).
QString PrivateSocketName(const QString &name);
// The peer of a connected local socket runs as this process's user.
bool PeerIsSameUser(qintptr descriptor);

// Whether a process listens on the local socket NAME (connecting waits at most timeoutMs).
bool LocalSocketAnswers(const QString &name, int timeoutMs);

enum class LocalRequestResult {
    Answered, // the answer is whatever came before the server closed or fell silent
    NoServer, // nobody listens on the socket
    NotTaken, // the request could not be sent whole
};
// Sends REQUEST over the local socket NAME and reads the answer until the server closes
// the connection or sends nothing for replyMs.
LocalRequestResult SendLocalRequest(const QString &name, const QByteArray &request, int replyMs, QByteArray *answer);

// A listening local socket whose clients each send one line and wait for one answer.
// Event-driven on the window thread: a request may be answered later, after other
// requests have come in.
class LocalRequestServer : public QObject {
public:
    using Client = quint64;
    // A line is cut at maxLine + 1 bytes; a client that sends no whole line within
    // lineTimeoutMs is dropped.
    LocalRequestServer(qsizetype maxLine, int lineTimeoutMs, QObject *parent = nullptr);
    ~LocalRequestServer() override;

    // Listens on NAME, replacing a socket left behind there. False when it cannot.
    bool Listen(const QString &name);

    // Each client's line, with its line end. A client of another user is handed over
    // at once, with no line, and is meant to get a refusal.
    std::function<void(Client client, const QByteArray &line, bool sameUser)> OnRequest;
    // The client still waits for its answer (it has not closed its end).
    bool Waiting(Client client) const;
    // Sends the answer and closes the connection; nothing when the client has gone.
    void Reply(Client client, const QByteArray &answer);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace platform
