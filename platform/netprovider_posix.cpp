#include "platform/netprovider.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/gvfsdrives.h"
#include "platform/lazylibrary.h"
#include "platform/memoryguard.h"
#include "platform/paths.h"
#include "platform/pendingresult.h"


#include <libsmbclient.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace platform {

namespace {

// Samba's client library brings most of Samba with it: it is loaded by the first
// network call, not with the program, so that the window, a second copy and the
// command-line switches start without it.
#define TAVRO_SMB_FUNCTIONS(X) \
    X(smbc_new_context) X(smbc_free_context) X(smbc_init_context) X(smbc_setDebug) \
    X(smbc_setFunctionAuthDataWithContext) X(smbc_setOptionNoAutoAnonymousLogin) \
    X(smbc_setOptionUseKerberos) X(smbc_setOptionFallbackAfterKerberos) X(smbc_setOptionUseCCache) \
    X(smbc_getWorkgroup) X(smbc_setTimeout) X(smbc_setUser) X(smbc_setWorkgroup) X(smbc_setPort) \
    X(smbc_getFunctionGetCachedServer) X(smbc_getFunctionRemoveUnusedServer) \
    X(smbc_getFunctionRemoveCachedServer) X(smbc_getFunctionStat) X(smbc_getFunctionClose) \
    X(smbc_getFunctionRead) X(smbc_getFunctionUnlink) X(smbc_getFunctionOpen) \
    X(smbc_getFunctionCheckServer) X(smbc_setFunctionCheckServer) X(smbc_getFunctionAddCachedServer) \
    X(smbc_setFunctionAddCachedServer) X(smbc_setFunctionRemoveCachedServer)

TAVRO_LAZY_LIBRARY(SmbLibrary, Smb, "libsmbclient.so.0", TAVRO_SMB_FUNCTIONS)

// \\host[:port]\share\rest; after the host, "\" and "/" both separate.
struct UncName {
    bool ok = false;
    QString host;
    quint16 port = 0;
    QString share;
    QStringList rest;
};

bool ValidHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_')))
            return false;
    }
    return true;
}

UncName ParseUnc(const QString &path)
{
    UncName n;
    if (!IsUncPath(path))
        return n;
    QStringList parts;
    QString part;
    for (QChar c : path.mid(2)) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('/')) {
            parts.append(part);
            part.clear();
        } else {
            part.append(c);
        }
    }
    parts.append(part);
    QString host = parts.takeFirst();
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        bool ok = false;
        const uint port = host.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return n;
        n.port = quint16(port);
        host.truncate(colon);
    }
    if (!ValidHost(host))
        return n;
    n.host = host;
    if (!parts.isEmpty())
        n.share = parts.takeFirst();
    for (const QString &p : parts) {
        if (p.isEmpty())
            continue; // doubled or trailing separators
        n.rest.append(p);
    }
    n.ok = true;
    return n;
}

QByteArray Encode(const QString &component)
{
    // The library decodes %XX in every part of the URL.
    return component.toUtf8().toPercentEncoding("$!&'()*+,=");
}

QString NormaliseDrive(const QString &name)
{
    if (name.size() != 2 || name[1] != QLatin1Char(':'))
        return QString();
    const QChar letter = name[0].toUpper();
    if (letter < QLatin1Char('A') || letter > QLatin1Char('Z'))
        return QString();
    return name.toUpper();
}

struct Connection {
    QString host;
    quint16 port = 0;
    QString share;
    QString user;
    QByteArray userName;  // the part after "DOMAIN\"
    QByteArray workgroup; // empty: the library's own
    LockedSecret password; // guarded by the table's mutex
    std::atomic<int> openFiles{0};
    std::atomic<bool> cancelled{false};

    bool sameShare(const UncName &n) const
    {
        return port == n.port && host.compare(n.host, Qt::CaseInsensitive) == 0
            && share.compare(n.share, Qt::CaseInsensitive) == 0;
    }
    bool sameServer(const UncName &n) const
    {
        return port == n.port && host.compare(n.host, Qt::CaseInsensitive) == 0;
    }
    // The library's cached session is shared by connections to one share as one user.
    bool sameSession(const Connection &o) const
    {
        return port == o.port && host.compare(o.host, Qt::CaseInsensitive) == 0
            && share.compare(o.share, Qt::CaseInsensitive) == 0 && userName == o.userName
            && workgroup == o.workgroup;
    }
    QString remoteName() const
    {
        QString name = QStringLiteral("\\\\") + host;
        if (port != 0)
            name += QLatin1Char(':') + QString::number(port);
        return name + QLatin1Char('\\') + share;
    }
    QByteArray serverUrl() const
    {
        QByteArray url = "smb://" + host.toUtf8();
        if (port != 0)
            url += ':' + QByteArray::number(port);
        return url;
    }
};
using ConnectionPtr = std::shared_ptr<Connection>;

// The process-wide connection table. Its mutex also guards every Connection's
// password, which the worker reads in the authentication callback.
std::mutex g_tableMutex;
std::vector<ConnectionPtr> g_table;

// Set by the worker before each library call: the credentials the callback hands out.
ConnectionPtr g_current;
QByteArray g_defaultWorkgroup;

void AuthCallback(SMBCCTX *, const char *, const char *, char *wg, int wglen, char *un, int unlen,
                  char *pw, int pwlen)
{
    std::lock_guard lock(g_tableMutex);
    if (!g_current || g_current->cancelled) {
        // No credentials: an empty user with NoAutoAnonymousLogin fails rather than guesses.
        if (unlen > 0)
            un[0] = 0;
        if (pwlen > 0)
            pw[0] = 0;
        return;
    }
    if (!g_current->workgroup.isEmpty())
        qstrncpy(wg, g_current->workgroup.constData(), size_t(wglen));
    qstrncpy(un, g_current->userName.constData(), size_t(unlen));
    const LockedSecret &secret = g_current->password;
    if (secret.size() >= size_t(pwlen)) {
        pw[0] = 0;
        return;
    }
    std::memcpy(pw, secret.data(), secret.size() + 1);
}

// Slightly below the caller's bound so the library reports its own timeout first.
constexpr int LibraryTimeoutMs = DefaultNetTimeoutMs - 500;
// How long a caller waits for the library to load before it gives the call up.
constexpr int LibraryLoadBoundMs = 120000;

// Before it reuses a session the library sends an echo, unless one answered within its
// timeout (in whole seconds); a session it has just set up counts as never heard from,
// so the first call after every connection costs a round trip. A session set up or
// checked just now is as good as one that has just echoed: the worker trusts it as
// long as the library trusts an echo, and asks the library's own check after that.
// Worker thread only.
constexpr auto TrustedFor = std::chrono::seconds(LibraryTimeoutMs / 1000);
std::map<SMBCSRV *, std::chrono::steady_clock::time_point> g_heardFrom;
smbc_check_server_fn g_libraryCheckServer;
smbc_add_cached_srv_fn g_libraryAddCachedServer;
smbc_remove_cached_srv_fn g_libraryRemoveCachedServer;

int AddCachedServer(SMBCCTX *ctx, SMBCSRV *srv, const char *server, const char *share, const char *workgroup,
                    const char *user)
{
    const int rc = g_libraryAddCachedServer(ctx, srv, server, share, workgroup, user);
    if (rc == 0)
        g_heardFrom[srv] = std::chrono::steady_clock::now();
    return rc;
}

int RemoveCachedServer(SMBCCTX *ctx, SMBCSRV *srv)
{
    g_heardFrom.erase(srv);
    return g_libraryRemoveCachedServer(ctx, srv);
}

int CheckServer(SMBCCTX *ctx, SMBCSRV *srv)
{
    const auto now = std::chrono::steady_clock::now();
    const auto it = g_heardFrom.find(srv);
    if (it != g_heardFrom.end() && now - it->second < TrustedFor)
        return 0;
    const int dead = g_libraryCheckServer(ctx, srv);
    if (dead)
        g_heardFrom.erase(srv);
    else
        g_heardFrom[srv] = now;
    return dead;
}

// After a failed call any session may be the one that broke: the next use asks the library.
void DoubtSessions()
{
    g_heardFrom.clear();
}

// libsmbclient is not thread-safe: one thread owns the one context and runs every call.
class SmbWorker {
public:
    using Job = std::function<void(SMBCCTX *)>;

    // The thread shares the queue, so a thread left running at the end (see below) never
    // touches a destroyed one.
    SmbWorker() : m_queue(std::make_shared<Queue>()), m_thread([q = m_queue] { run(*q); }) {}
    ~SmbWorker()
    {
        Queue &q = *m_queue;
        std::unique_lock lock(q.mutex);
        q.stop = true;
        q.cv.notify_all();
        // A call stuck on a dead server must not hold up the end of the process.
        if (q.cv.wait_for(lock, std::chrono::seconds(2), [&q] { return q.exited; })) {
            lock.unlock();
            m_thread.join();
        } else {
            lock.unlock();
            m_thread.detach();
        }
    }

    void post(Job job)
    {
        Queue &q = *m_queue;
        std::lock_guard lock(q.mutex);
        q.jobs.push_back(std::move(job));
        q.cv.notify_all();
    }

    // Waits until the library is loaded and the context set up, at most boundMs.
    bool waitReady(int boundMs)
    {
        std::shared_ptr<PendingResult> ready;
        {
            Queue &q = *m_queue;
            std::lock_guard lock(q.mutex);
            if (q.ready)
                return true;
            ready = std::make_shared<PendingResult>();
            q.readyWaiters.push_back(ready);
        }
        return ready->wait(boundMs);
    }

private:
    struct Queue {
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<Job> jobs;
        bool stop = false;
        bool exited = false;
        bool ready = false; // the library loaded and the context set up
        std::vector<std::shared_ptr<PendingResult>> readyWaiters;
    };

    static void run(Queue &q)
    {
        // A write to a server that went away must not kill the process.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);

        SMBCCTX *ctx = Smb().loaded ? Smb().smbc_new_context() : nullptr;
        if (ctx) {
            Smb().smbc_setDebug(ctx, 0);
            Smb().smbc_setFunctionAuthDataWithContext(ctx, AuthCallback);
            // Otherwise a refused password on a share that admits guests "succeeds" as guest.
            Smb().smbc_setOptionNoAutoAnonymousLogin(ctx, 1);
            Smb().smbc_setOptionUseKerberos(ctx, 0);
            Smb().smbc_setOptionFallbackAfterKerberos(ctx, 1);
            Smb().smbc_setOptionUseCCache(ctx, 0);
            g_libraryCheckServer = Smb().smbc_getFunctionCheckServer(ctx);
            g_libraryAddCachedServer = Smb().smbc_getFunctionAddCachedServer(ctx);
            g_libraryRemoveCachedServer = Smb().smbc_getFunctionRemoveCachedServer(ctx);
            Smb().smbc_setFunctionCheckServer(ctx, CheckServer);
            Smb().smbc_setFunctionAddCachedServer(ctx, AddCachedServer);
            Smb().smbc_setFunctionRemoveCachedServer(ctx, RemoveCachedServer);
            if (!Smb().smbc_init_context(ctx)) {
                Smb().smbc_free_context(ctx, 1);
                ctx = nullptr;
            } else {
                g_defaultWorkgroup = Smb().smbc_getWorkgroup(ctx);
            }
        }
        std::unique_lock lock(q.mutex);
        q.ready = true;
        for (const auto &waiter : q.readyWaiters)
            waiter->finish([] {});
        q.readyWaiters.clear();
        for (;;) {
            q.cv.wait(lock, [&q] { return q.stop || !q.jobs.empty(); });
            if (q.stop)
                break;
            Job job = std::move(q.jobs.front());
            q.jobs.pop_front();
            lock.unlock();
            if (ctx)
                Smb().smbc_setTimeout(ctx, LibraryTimeoutMs);
            job(ctx);
            {
                std::lock_guard authLock(g_tableMutex);
                g_current.reset();
            }
            lock.lock();
        }
        lock.unlock();
        if (ctx)
            Smb().smbc_free_context(ctx, 1);
        lock.lock();
        q.exited = true;
        q.cv.notify_all();
    }

    std::shared_ptr<Queue> m_queue;
    std::thread m_thread;
};

SmbWorker &Worker()
{
    static SmbWorker worker;
    return worker;
}

// Runs fn on the worker and waits at most the network timeout for it. On the window
// thread the wait dispatches window messages. When the caller gives up, the job still
// finishes on the worker and ifAbandoned cleans up after it there.
template <class R>
std::optional<R> Call(std::function<R(SMBCCTX *)> fn, std::function<void(SMBCCTX *, const R &)> ifAbandoned = {})
{
    // Loading Samba's library is local work, not a wait for a server: on a host busy with
    // many logons at once it alone can outlast the network timeout, so that clock starts
    // once the worker takes calls.
    if (!Worker().waitReady(LibraryLoadBoundMs))
        return std::nullopt;
    auto pending = std::make_shared<PendingResult>();
    auto result = std::make_shared<std::optional<R>>();
    Worker().post([pending, result, fn = std::move(fn), ifAbandoned = std::move(ifAbandoned)](SMBCCTX *ctx) {
        R r = fn(ctx);
        if (!pending->finish([&] { *result = std::move(r); }) && ifAbandoned)
            ifAbandoned(ctx, r);
    });
    if (!pending->wait(DefaultNetTimeoutMs))
        return std::nullopt;
    return std::move(*result);
}

// Worker side: hand out this connection's credentials for the next library calls.
void Use(SMBCCTX *ctx, const ConnectionPtr &conn)
{
    {
        std::lock_guard lock(g_tableMutex);
        g_current = conn;
    }
    // The library keys its cached sessions by user and workgroup: set both to this one's.
    Smb().smbc_setUser(ctx, conn->userName.constData());
    Smb().smbc_setWorkgroup(ctx, conn->workgroup.isEmpty() ? g_defaultWorkgroup.constData()
                                                     : conn->workgroup.constData());
    Smb().smbc_setPort(ctx, 0); // the port is in the URL
}

// The library's cached session for this connection's share and user, if any.
SMBCSRV *CachedServer(SMBCCTX *ctx, const Connection &conn)
{
    const QByteArray host = conn.host.toUtf8();
    const QByteArray share = conn.share.toUtf8();
    const QByteArray wg = conn.workgroup.isEmpty() ? g_defaultWorkgroup : conn.workgroup;
    return Smb().smbc_getFunctionGetCachedServer(ctx)(ctx, host.constData(), share.constData(), wg.constData(),
                                                conn.userName.constData());
}

// Drops the library's cached session for this connection's share and user: the cache
// is keyed without port or password, so a later attempt would otherwise reuse it.
void DropCachedServer(SMBCCTX *ctx, const Connection &conn)
{
    if (!ctx)
        return;
    SMBCSRV *srv = CachedServer(ctx, conn);
    if (!srv)
        return;
    // A session with open files is only unlisted, so that no later call finds it.
    if (Smb().smbc_getFunctionRemoveUnusedServer(ctx)(ctx, srv) != 0)
        Smb().smbc_getFunctionRemoveCachedServer(ctx)(ctx, srv);
}

quint32 ConnectErrorFromErrno(int err)
{
    switch (err) {
    case EACCES:
    case EPERM: return NET_ERROR_LOGON_FAILURE;
    case ENOENT:
    case ENODEV: return NET_ERROR_BAD_NET_NAME;
    case EINVAL: // the name does not resolve
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN: return NET_ERROR_BAD_NETPATH;
    case ETIMEDOUT: return NET_ERROR_SEM_TIMEOUT;
    default: return NET_ERROR_UNEXP_NET_ERR;
    }
}

quint32 ConnectOnWorker(SMBCCTX *ctx, const ConnectionPtr &conn)
{
    if (!ctx)
        return NET_ERROR_NO_NETWORK;
    Use(ctx, conn);
    DropCachedServer(ctx, *conn);
    // The session and tree connect are what count, and the library makes them for any
    // call on the share. Opening its root as a file costs one request that the server
    // refuses (a folder; on IPC$ nothing at all can be opened so) where a look at the
    // root's attributes costs three.
    const QByteArray url = conn->serverUrl() + '/' + Encode(conn->share);
    for (int attempt = 0;; ++attempt) {
        SMBCFILE *file = Smb().smbc_getFunctionOpen(ctx)(ctx, url.constData(), O_RDONLY, 0);
        const int err = errno;
        if (file)
            Smb().smbc_getFunctionClose(ctx)(ctx, file);
        if (file || CachedServer(ctx, *conn))
            return NET_NO_ERROR;
        DoubtSessions();
        if (err == ECONNABORTED && attempt == 0)
            continue; // a dropped cached session fails once
        return ConnectErrorFromErrno(err);
    }
}

// The secondary server's IPC$ on the server whose session already holds these very
// credentials: like Windows, the session that authenticated them serves, and another
// session would only authenticate the same again. False when that session is gone.
bool RideOnSessionOnWorker(SMBCCTX *ctx, const ConnectionPtr &conn, const ConnectionPtr &holder)
{
    if (!ctx || holder->cancelled)
        return false;
    Use(ctx, conn);
    DropCachedServer(ctx, *conn);
    SMBCSRV *srv = CachedServer(ctx, *holder);
    return srv && CheckServer(ctx, srv) == 0;
}

ConnectionPtr FindForPath(const UncName &n)
{
    std::lock_guard lock(g_tableMutex);
    for (const ConnectionPtr &c : g_table) {
        if (c->sameShare(n))
            return c;
    }
    // The session to a server serves its other shares too.
    for (const ConnectionPtr &c : g_table) {
        if (c->sameServer(n))
            return c;
    }
    return nullptr;
}

QByteArray FileUrl(const ConnectionPtr &conn, const UncName &n)
{
    QByteArray url = conn->serverUrl() + '/' + Encode(n.share);
    for (const QString &p : n.rest)
        url += '/' + Encode(p);
    if (n.rest.isEmpty())
        url += '/';
    return url;
}

struct StatResult {
    int rc = -1;
    int err = 0;
    mode_t mode = 0;
};

StatResult StatOnWorker(SMBCCTX *ctx, const ConnectionPtr &conn, const QByteArray &url)
{
    StatResult r;
    if (!ctx) {
        r.err = ENETDOWN;
        return r;
    }
    Use(ctx, conn);
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat st {};
        r.rc = Smb().smbc_getFunctionStat(ctx)(ctx, url.constData(), &st);
        r.err = r.rc == 0 ? 0 : errno;
        r.mode = st.st_mode;
        if (r.rc != 0)
            DoubtSessions();
        if (r.rc == 0 || r.err != ECONNABORTED)
            break;
    }
    return r;
}

std::optional<StatResult> StatPath(const QString &path, ConnectionPtr *connOut = nullptr)
{
    const UncName n = ParseUnc(path);
    if (!n.ok || n.share.isEmpty())
        return std::nullopt;
    ConnectionPtr conn = FindForPath(n);
    if (!conn)
        return std::nullopt;
    if (connOut)
        *connOut = conn;
    const QByteArray url = FileUrl(conn, n);
    return Call<StatResult>([conn, url](SMBCCTX *ctx) { return StatOnWorker(ctx, conn, url); });
}

// A file on a share read through the worker, a block per call.
class UncReader : public QIODevice {
public:
    UncReader(ConnectionPtr conn, SMBCFILE *file) : m_conn(std::move(conn)), m_file(file)
    {
        ++m_conn->openFiles;
        QIODevice::open(QIODevice::ReadOnly);
    }
    ~UncReader() override { UncReader::close(); }

    bool isSequential() const override { return true; }

    void close() override
    {
        if (m_file) {
            SMBCFILE *file = m_file;
            m_file = nullptr;
            --m_conn->openFiles;
            // Nobody waits for the close; the queue keeps it ahead of later calls.
            Worker().post([file](SMBCCTX *ctx) {
                if (ctx)
                    Smb().smbc_getFunctionClose(ctx)(ctx, file);
            });
        }
        QIODevice::close();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (!m_file)
            return -1;
        if (m_atEnd)
            return 0;
        if (m_conn->cancelled) {
            setErrorString(QStringLiteral("The network connection was cancelled"));
            return -1;
        }
        const size_t want = size_t(std::min<qint64>(maxSize, 1 << 20));
        struct ReadResult {
            ssize_t got = -1;
            int err = 0;
            QByteArray bytes;
        };
        SMBCFILE *file = m_file;
        auto r = Call<ReadResult>([file, want](SMBCCTX *ctx) {
            ReadResult rr;
            if (!ctx)
                return rr;
            rr.bytes.resize(qsizetype(want));
            rr.got = Smb().smbc_getFunctionRead(ctx)(ctx, file, rr.bytes.data(), want);
            rr.err = rr.got < 0 ? errno : 0;
            if (rr.got < 0)
                DoubtSessions();
            return rr;
        });
        if (!r) {
            setErrorString(InOutErrorText(NET_ERROR_SEM_TIMEOUT));
            return -1;
        }
        if (r->got < 0) {
            setErrorString(InOutErrorText(InOutCodeFromErrno(r->err)));
            return -1;
        }
        std::memcpy(data, r->bytes.constData(), size_t(r->got));
        // The library reads on until it has all it was asked for or meets the end: a
        // short read is the end, and asking again would cost the server a request.
        m_atEnd = r->got < qint64(want);
        return r->got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    ConnectionPtr m_conn;
    SMBCFILE *m_file;
    bool m_atEnd = false;
};

// A deviceless connection (or a drive, handed on to GVfs) with a secret already in memory.
quint32 Connect(const QString &localName, const UncName &n, const QString &user, const std::string &secret)
{
    if (!n.ok || n.share.isEmpty() || !n.rest.isEmpty())
        return NET_ERROR_BAD_NET_NAME;
    QString drive;
    if (!localName.isEmpty()) {
        drive = NormaliseDrive(localName);
        if (drive.isEmpty())
            return NET_ERROR_BAD_DEVICE;
    }
    const qsizetype slash = user.indexOf(QLatin1Char('\\'));
    if (!drive.isEmpty()) {
        gvfs::Credentials credentials;
        credentials.domain = slash >= 0 ? user.left(slash) : QString();
        credentials.user = user.mid(slash + 1);
        credentials.password = secret;
        return gvfs::Mount(drive, n.host, n.port, n.share, credentials);
    }
    auto conn = std::make_shared<Connection>();
    conn->host = n.host;
    conn->port = n.port;
    conn->share = n.share;
    conn->user = user;
    if (slash >= 0) {
        conn->workgroup = user.left(slash).toUtf8();
        conn->userName = user.mid(slash + 1).toUtf8();
    } else {
        conn->userName = user.toUtf8();
    }
    ConnectionPtr holder;
    {
        std::lock_guard lock(g_tableMutex);
        if (!conn->password.assign(secret.data(), secret.size()))
            return NET_ERROR_LOGON_FAILURE; // longer than any password a server takes
        for (const ConnectionPtr &c : g_table) {
            if (c->sameShare(n) && c->user != user)
                return NET_ERROR_SESSION_CREDENTIAL_CONFLICT;
        }
        if (n.share.compare(QLatin1String("IPC$"), Qt::CaseInsensitive) == 0) {
            // Only the very same credentials: a session must never stand in for others.
            for (const ConnectionPtr &c : g_table) {
                if (c->sameServer(n) && !c->sameShare(n) && c->userName == conn->userName
                    && c->workgroup == conn->workgroup && c->password.equals(secret.data(), secret.size())) {
                    holder = c;
                    break;
                }
            }
        }
    }
    const std::optional<quint32> r = Call<quint32>(
        [conn, holder](SMBCCTX *ctx) {
            if (holder && RideOnSessionOnWorker(ctx, conn, holder))
                return NET_NO_ERROR;
            return ConnectOnWorker(ctx, conn);
        },
        [conn](SMBCCTX *ctx, const quint32 &rc) {
            // The caller gave up: leave no session behind that it does not know of.
            if (rc == NET_NO_ERROR)
                DropCachedServer(ctx, *conn);
        });
    if (!r || *r != NET_NO_ERROR) {
        std::lock_guard lock(g_tableMutex);
        conn->password.wipe();
        return r ? *r : NET_ERROR_SEM_TIMEOUT;
    }

    std::lock_guard lock(g_tableMutex);
    for (auto it = g_table.begin(); it != g_table.end();) {
        // The same connection made again replaces the old entry.
        if ((*it)->sameShare(n)) {
            (*it)->password.wipe();
            it = g_table.erase(it);
        } else {
            ++it;
        }
    }
    g_table.push_back(conn);
    return NET_NO_ERROR;
}

} // namespace

quint32 AddConnection(const QString &localName, const QString &remoteName, const QString &user,
                      const QString &password)
{
    QByteArray utf8 = password.toUtf8();
    std::string secret(utf8.constData(), size_t(utf8.size()));
    WipeBytes(utf8.data(), size_t(utf8.size()));
    const quint32 r = Connect(localName, ParseUnc(remoteName), user, secret);
    WipeBytes(secret.data(), secret.size());
    return r;
}

quint32 AddConnectionForSession(const QString &localName, const QString &remoteName)
{
    const UncName n = ParseUnc(remoteName);
    if (!n.ok || n.share.isEmpty() || !n.rest.isEmpty())
        return NET_ERROR_BAD_NET_NAME;
    QString user;
    std::string secret;
    {
        std::lock_guard lock(g_tableMutex);
        auto it = std::find_if(g_table.begin(), g_table.end(), [&](const ConnectionPtr &c) { return c->sameShare(n); });
        if (it == g_table.end())
            it = std::find_if(g_table.begin(), g_table.end(), [&](const ConnectionPtr &c) { return c->sameServer(n); });
        if (it == g_table.end())
            return NET_ERROR_NO_SUCH_LOGON_SESSION;
        user = (*it)->user;
        secret = (*it)->password.copy();
    }
    const quint32 r = Connect(localName, n, user, secret);
    WipeBytes(secret.data(), secret.size());
    return r;
}

quint32 CancelConnection(const QString &name, bool force)
{
    const QString drive = NormaliseDrive(name);
    if (!drive.isEmpty())
        return gvfs::Unmount(drive, force);
    ConnectionPtr victim;
    bool sessionShared = false;
    {
        std::lock_guard lock(g_tableMutex);
        const UncName n = ParseUnc(name);
        if (!n.ok || n.share.isEmpty() || !n.rest.isEmpty())
            return NET_ERROR_NOT_CONNECTED;
        auto it = std::find_if(g_table.begin(), g_table.end(), [&](const ConnectionPtr &c) { return c->sameShare(n); });
        if (it == g_table.end())
            return NET_ERROR_NOT_CONNECTED;
        if (!force && (*it)->openFiles > 0)
            return NET_ERROR_OPEN_FILES;
        victim = *it;
        g_table.erase(it);
        victim->cancelled = true;
        victim->password.wipe();
        sessionShared = std::any_of(g_table.begin(), g_table.end(),
                                    [&](const ConnectionPtr &c) { return c->sameSession(*victim); });
    }
    // Queued without waiting; it runs before any later connection attempt.
    if (!sessionShared)
        Worker().post([victim](SMBCCTX *ctx) { DropCachedServer(ctx, *victim); });
    return NET_NO_ERROR;
}

void CancelDevicelessConnections()
{
    QStringList names;
    {
        std::lock_guard lock(g_tableMutex);
        for (const ConnectionPtr &c : g_table)
            names.append(c->remoteName());
    }
    for (const QString &name : names)
        CancelConnection(name, true);
}

bool IsRemoteDrive(const QString &drive)
{
    const QString name = NormaliseDrive(drive);
    return !name.isEmpty() && gvfs::IsLive(name);
}

void WithdrawStaleDrives()
{
    gvfs::WithdrawStale();
}

QList<NetConnection> ListConnections()
{
    QList<NetConnection> list;
    for (const gvfs::Drive &d : gvfs::List())
        list.append({d.letter, d.remote});
    std::lock_guard lock(g_tableMutex);
    for (const ConnectionPtr &c : g_table)
        list.append({QString(), c->remoteName()});
    return list;
}

QString NetErrorText(quint32 code)
{
    switch (code) {
    case NET_NO_ERROR: return QStringLiteral("the command completed successfully.");
    case NET_ERROR_ACCESS_DENIED: return QStringLiteral("access is denied.");
    case NET_ERROR_BAD_NETPATH: return QStringLiteral("the network path was not found.");
    case NET_ERROR_BAD_NET_NAME: return QStringLiteral("the network name cannot be found.");
    case NET_ERROR_ALREADY_ASSIGNED: return QStringLiteral("the local device name is already in use.");
    case NET_ERROR_SEM_TIMEOUT: return QStringLiteral("the server did not answer in time.");
    case NET_ERROR_BAD_DEVICE: return QStringLiteral("the specified device name is invalid.");
    case NET_ERROR_SESSION_CREDENTIAL_CONFLICT:
        return QStringLiteral("another connection to this share uses other credentials.");
    case NET_ERROR_NO_SUCH_LOGON_SESSION: return QStringLiteral("no session for this server.");
    case NET_ERROR_NO_NETWORK: {
        const QString missing = gvfs::Unavailable();
        return missing.isEmpty() ? QStringLiteral("the network is not present or not started.") : missing + QLatin1Char('.');
    }
    case NET_ERROR_LOGON_FAILURE: return QStringLiteral("the user name or password is incorrect.");
    case NET_ERROR_NOT_CONNECTED: return QStringLiteral("the network connection could not be found.");
    case NET_ERROR_OPEN_FILES: return QStringLiteral("there are open files on the connection.");
    default: return QStringLiteral("an unexpected network error occurred.");
    }
}

bool NetFileExists(const QString &path)
{
    const std::optional<StatResult> r = StatPath(path);
    return r && r->rc == 0 && !S_ISDIR(r->mode);
}

bool NetDirectoryExists(const QString &path)
{
    const std::optional<StatResult> r = StatPath(path);
    return r && r->rc == 0 && S_ISDIR(r->mode);
}

bool NetDeleteFile(const QString &path)
{
    const UncName n = ParseUnc(path);
    if (!n.ok || n.share.isEmpty() || n.rest.isEmpty())
        return false;
    ConnectionPtr conn = FindForPath(n);
    if (!conn)
        return false;
    const QByteArray url = FileUrl(conn, n);
    const std::optional<int> r = Call<int>([conn, url](SMBCCTX *ctx) {
        if (!ctx)
            return -1;
        Use(ctx, conn);
        const int rc = Smb().smbc_getFunctionUnlink(ctx)(ctx, url.constData());
        if (rc != 0)
            DoubtSessions();
        return rc;
    });
    return r && *r == 0;
}

std::unique_ptr<QIODevice> NetOpenReadStream(const QString &path)
{
    const UncName n = ParseUnc(path);
    if (!n.ok || n.share.isEmpty() || n.rest.isEmpty())
        throw EInOutError(3, InOutErrorText(3));
    ConnectionPtr conn = FindForPath(n);
    if (!conn)
        throw EInOutError(5, InOutErrorText(5)); // no credentials for that server
    const QByteArray url = FileUrl(conn, n);
    struct OpenResult {
        SMBCFILE *file = nullptr;
        int err = 0;
    };
    const std::optional<OpenResult> r = Call<OpenResult>(
        [conn, url](SMBCCTX *ctx) {
            OpenResult o;
            if (!ctx) {
                o.err = ENETDOWN;
                return o;
            }
            Use(ctx, conn);
            for (int attempt = 0; attempt < 2 && !o.file; ++attempt) {
                o.file = Smb().smbc_getFunctionOpen(ctx)(ctx, url.constData(), O_RDONLY, 0);
                o.err = o.file ? 0 : errno;
                if (!o.file)
                    DoubtSessions();
                if (o.err != ECONNABORTED)
                    break;
            }
            return o;
        },
        [](SMBCCTX *ctx, const OpenResult &o) {
            if (o.file)
                Smb().smbc_getFunctionClose(ctx)(ctx, o.file);
        });
    if (!r)
        throw EInOutError(int(NET_ERROR_SEM_TIMEOUT), InOutErrorText(int(NET_ERROR_SEM_TIMEOUT)));
    if (!r->file) {
        const int code = InOutCodeFromErrno(r->err);
        throw EInOutError(code, InOutErrorText(code));
    }
    return std::make_unique<UncReader>(conn, r->file);
}

int NetTimeout()
{
    return DefaultNetTimeoutMs;
}

} // namespace platform
