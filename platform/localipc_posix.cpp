#include "platform/localipc.h"

#include "platform/runtimefolder.h"
#include "platform/unixsocket_p.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <map>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Plain sockets and socket notifiers: the program loads no network library for them.

namespace platform {

const bool ServesNetUse = true;

namespace {

bool SocketAddress(const QString &path, sockaddr_un &addr)
{
    const QByteArray bytes = QFile::encodeName(path);
    addr = {};
    addr.sun_family = AF_UNIX;
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

void SetTimeout(int fd, int option, int ms)
{
    const timeval tv {ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

bool SendAll(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

int ListenUnixSocket(const QString &path)
{
    sockaddr_un addr;
    if (!SocketAddress(path, addr))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    ::unlink(addr.sun_path);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::chmod(addr.sun_path, 0700) != 0
        || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ConnectUnixSocket(const QString &path, int timeoutMs)
{
    sockaddr_un addr;
    if (!SocketAddress(path, addr))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A blocking connect waits for room in a full backlog, as long as the send timeout.
    SetTimeout(fd, SO_SNDTIMEO, timeoutMs);
    int rc;
    do
        rc = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString PrivateSocketName(const QString &name)
{
    const QString base = PrivateRuntimeFolder();
    if (base.isEmpty())
        return QString();
    // A folder of the program's own inside it, just as private.
    const QString folder = base + QStringLiteral("/tavrologin");
    return MakePrivateFolder(folder) ? folder + QLatin1Char('/') + name : QString();
}

bool PeerIsSameUser(qintptr descriptor)
{
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return false;
    return cred.uid == ::geteuid();
}

bool LocalSocketAnswers(const QString &name, int timeoutMs)
{
    const int fd = ConnectUnixSocket(name, timeoutMs);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

LocalRequestResult SendLocalRequest(const QString &name, const QByteArray &request, int replyMs, QByteArray *answer)
{
    const int fd = ConnectUnixSocket(name, 2000);
    if (fd < 0)
        return LocalRequestResult::NoServer;
    SetTimeout(fd, SO_SNDTIMEO, 2000);
    if (!SendAll(fd, request)) {
        ::close(fd);
        return LocalRequestResult::NotTaken;
    }
    answer->clear();
    for (;;) {
        pollfd p {fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, replyMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer->append(buffer, n);
    }
    ::close(fd);
    return LocalRequestResult::Answered;
}

struct LocalRequestServer::Impl {
    struct Connection {
        int fd = -1;
        QByteArray buffer;
        bool requested = false;
        QPointer<QSocketNotifier> reader;
    };

    LocalRequestServer *q;
    qsizetype maxLine;
    int lineTimeoutMs;
    QString path;
    int listener = -1;
    QPointer<QSocketNotifier> acceptor;
    std::map<Client, Connection> clients;
    Client lastClient = 0;

    void Accept()
    {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            const Client id = ++lastClient;
            Connection &c = clients[id];
            c.fd = fd;
            if (!PeerIsSameUser(fd)) {
                c.requested = true;
                if (q->OnRequest)
                    q->OnRequest(id, QByteArray(), false);
                continue;
            }
            c.reader = new QSocketNotifier(fd, QSocketNotifier::Read, q);
            QObject::connect(c.reader, &QSocketNotifier::activated, q, [this, id] { Read(id); });
            // A client that never finishes its line is dropped.
            QTimer::singleShot(lineTimeoutMs, q, [this, id] {
                const auto it = clients.find(id);
                if (it != clients.end() && !it->second.requested)
                    Drop(id);
            });
            Read(id);
        }
    }

    void Read(Client id)
    {
        const auto it = clients.find(id);
        if (it == clients.end() || it->second.requested)
            return;
        Connection &c = it->second;
        bool closed = false;
        while (c.buffer.size() <= maxLine) {
            char buffer[4096];
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            c.buffer.append(buffer, n);
        }
        const qsizetype end = c.buffer.indexOf('\n');
        if (end < 0 && c.buffer.size() <= maxLine) {
            if (closed)
                Drop(id);
            return;
        }
        // One line per connection: nothing after it is read.
        const QByteArray line = c.buffer.left(end >= 0 ? qMin(end + 1, maxLine + 1) : maxLine + 1);
        c.requested = true;
        c.buffer.clear();
        StopReading(c);
        if (q->OnRequest)
            q->OnRequest(id, line, true);
    }

    static void StopReading(Connection &c)
    {
        // The notifier may be the one whose signal is running.
        if (c.reader) {
            c.reader->setEnabled(false);
            c.reader->deleteLater();
        }
    }

    void Drop(Client id)
    {
        const auto it = clients.find(id);
        if (it == clients.end())
            return;
        StopReading(it->second);
        ::close(it->second.fd);
        clients.erase(it);
    }

    void Close()
    {
        while (!clients.empty())
            Drop(clients.begin()->first);
        delete acceptor;
        if (listener >= 0) {
            ::close(listener);
            ::unlink(QFile::encodeName(path).constData());
            listener = -1;
        }
    }
};

LocalRequestServer::LocalRequestServer(qsizetype maxLine, int lineTimeoutMs, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>())
{
    d->q = this;
    d->maxLine = maxLine;
    d->lineTimeoutMs = lineTimeoutMs;
}

LocalRequestServer::~LocalRequestServer()
{
    d->Close();
}

bool LocalRequestServer::Listen(const QString &name)
{
    d->Close();
    d->listener = ListenUnixSocket(name);
    if (d->listener < 0)
        return false;
    d->path = name;
    d->acceptor = new QSocketNotifier(d->listener, QSocketNotifier::Read, this);
    connect(d->acceptor, &QSocketNotifier::activated, this, [this] { d->Accept(); });
    return true;
}

bool LocalRequestServer::Waiting(Client client) const
{
    const auto it = d->clients.find(client);
    if (it == d->clients.end())
        return false;
    pollfd p {it->second.fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

void LocalRequestServer::Reply(Client client, const QByteArray &answer)
{
    const auto it = d->clients.find(client);
    if (it == d->clients.end())
        return;
    // Small answers fit the socket's buffer; a reader that takes nothing is not waited for long.
    const int fd = it->second.fd;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    SetTimeout(fd, SO_SNDTIMEO, 2000);
    SendAll(fd, answer);
    d->Drop(client);
}

} // namespace platform
