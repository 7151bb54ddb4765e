#include "platform/gvfsdrives.h"

#include "platform/lazylibrary.h"
#include "platform/memoryguard.h"
#include "platform/netprovider.h"
#include "platform/pendingresult.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

// GLib's "signals" member clashes with Qt's keyword macro.
#undef signals
#include <gio/gio.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform::gvfs {

Credentials::~Credentials()
{
    WipeBytes(password.data(), password.size());
}

namespace {

// GIO is loaded by the first drive call, not with the program (GLib itself comes with Qt).
// The code below casts without GObject's checked-cast macros, which would call GIO directly.
#define TAVRO_GIO_FUNCTIONS(X) \
    X(g_cancellable_cancel) X(g_cancellable_is_cancelled) X(g_cancellable_new) \
    X(g_file_find_enclosing_mount) X(g_file_get_path) X(g_file_get_uri) \
    X(g_file_mount_enclosing_volume) X(g_file_mount_enclosing_volume_finish) X(g_file_new_for_path) \
    X(g_file_new_for_uri) X(g_mount_get_name) X(g_mount_get_root) \
    X(g_mount_operation_new) X(g_mount_operation_reply) X(g_mount_operation_set_anonymous) \
    X(g_mount_operation_set_domain) X(g_mount_operation_set_password) X(g_mount_operation_set_password_save) \
    X(g_mount_operation_set_username) X(g_mount_unmount_with_operation) X(g_mount_unmount_with_operation_finish) \
    X(g_object_ref) X(g_object_unref) X(g_signal_connect_data) \
    X(g_vfs_get_default) X(g_vfs_get_supported_uri_schemes) X(g_io_error_quark)

TAVRO_LAZY_LIBRARY(GioLibrary, Gio, "libgio-2.0.so.0", TAVRO_GIO_FUNCTIONS)

// Where Debian's gvfs-fuse puts the daemon that gvfsd starts.
const char GvfsdFuse[] = "/usr/libexec/gvfsd-fuse";
const QString Missing = QStringLiteral("network drives need the desktop's GVfs service: gvfs-backends and gvfs-fuse");

template <class T>
struct GFree {
    void operator()(T *p) const { Gio().g_object_unref(p); }
};
template <class T>
using GPtr = std::unique_ptr<T, GFree<T>>;

struct CharFree {
    void operator()(char *p) const { g_free(p); }
};
using GString_ = std::unique_ptr<char, CharFree>;

QString FuseRoot()
{
    // GIO's own rule for where gvfsd-fuse exposes the mounts.
    return QFile::decodeName(g_get_user_runtime_dir()) + QStringLiteral("/gvfs");
}

bool FuseMounted()
{
    QFile info(QStringLiteral("/proc/self/mountinfo"));
    if (!info.open(QIODevice::ReadOnly))
        return false;
    // mountinfo escapes blanks in paths as octal.
    QByteArray root = QFile::encodeName(FuseRoot());
    root.replace("\\", "\\134").replace(" ", "\\040").replace("\t", "\\011").replace("\n", "\\012");
    for (const QByteArray &line : info.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        if (f.size() > 4 && f[4] == root && dash > 0 && dash + 1 < f.size() && f[dash + 1] == "fuse.gvfsd-fuse")
            return true;
    }
    return false;
}

bool SessionBusKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    struct stat st {};
    return ::stat(g_get_user_runtime_dir(), &st) == 0
        && ::stat((QFile::encodeName(QFile::decodeName(g_get_user_runtime_dir())) + "/bus").constData(), &st) == 0
        && S_ISSOCK(st.st_mode);
}

bool SmbSupported()
{
    const gchar *const *schemes = Gio().g_vfs_get_supported_uri_schemes(Gio().g_vfs_get_default());
    for (; schemes && *schemes; ++schemes) {
        if (std::strcmp(*schemes, "smb") == 0)
            return true;
    }
    return false;
}

QString LinkPath(const QString &drive)
{
    return DrivesFolder() + QLatin1Char('/') + drive.left(1);
}

QString BookmarksPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/gtk-3.0/bookmarks");
}

// The link's target when the link is one of ours (a link into the fuse folder).
QString OurTarget(const QString &drive, bool *exists = nullptr)
{
    const QByteArray link = QFile::encodeName(LinkPath(drive));
    struct stat st {};
    const bool present = ::lstat(link.constData(), &st) == 0;
    if (exists)
        *exists = present;
    if (!present || !S_ISLNK(st.st_mode))
        return QString();
    QByteArray target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(link.constData(), target.data(), size_t(target.size()));
    if (n <= 0 || n >= target.size())
        return QString();
    target.truncate(n);
    const QString path = QFile::decodeName(target);
    return path.startsWith(FuseRoot() + QLatin1Char('/')) ? path : QString();
}

// Runs fn(context, cancellable) on a thread of its own whose thread-default main context
// carries GIO's callbacks, and waits for it at most the network timeout. When the caller
// gives up, the work is cancelled and ifAbandoned cleans up after it on that thread.
template <class R>
std::optional<R> OnGioThread(std::function<R(GMainContext *, GCancellable *)> fn,
                             std::function<void(GMainContext *, const R &)> ifAbandoned = {})
{
    if (!Gio().loaded)
        return std::nullopt;
    auto pending = std::make_shared<PendingResult>();
    auto result = std::make_shared<std::optional<R>>();
    GCancellable *cancel = Gio().g_cancellable_new();
    (Gio().g_object_ref)(cancel); // parenthesised: GLib also defines it as a macro
    std::thread([pending, result, cancel, fn = std::move(fn), ifAbandoned = std::move(ifAbandoned)] {
        GMainContext *ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        R r = fn(ctx, cancel);
        if (!pending->finish([&] { *result = std::move(r); }) && ifAbandoned)
            ifAbandoned(ctx, r);
        g_main_context_pop_thread_default(ctx);
        g_main_context_unref(ctx);
        Gio().g_object_unref(cancel);
    }).detach();
    const bool done = pending->wait(NetTimeout());
    if (!done)
        Gio().g_cancellable_cancel(cancel);
    Gio().g_object_unref(cancel);
    if (!done)
        return std::nullopt;
    return std::move(*result);
}

struct AsyncDone {
    bool done = false;
    bool ok = false;
    GError *error = nullptr;
    ~AsyncDone()
    {
        if (error)
            g_error_free(error);
    }
};

void Iterate(GMainContext *ctx, const AsyncDone &d)
{
    while (!d.done)
        g_main_context_iteration(ctx, TRUE);
}

struct Asking {
    const Credentials *credentials;
    int asks = 0;
    bool refused = false;
};

void OnAskPassword(GMountOperation *op, const char *, const char *, const char *, GAskPasswordFlags, gpointer data)
{
    auto *asking = static_cast<Asking *>(data);
    // A second question means the first answer was refused: asking again cannot help.
    if (++asking->asks > 1) {
        asking->refused = true;
        Gio().g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
        return;
    }
    const Credentials &c = *asking->credentials;
    Gio().g_mount_operation_set_anonymous(op, FALSE);
    Gio().g_mount_operation_set_username(op, c.user.toUtf8().constData());
    if (!c.domain.isEmpty())
        Gio().g_mount_operation_set_domain(op, c.domain.toUtf8().constData());
    Gio().g_mount_operation_set_password(op, c.password.c_str());
    Gio().g_mount_operation_set_password_save(op, G_PASSWORD_SAVE_NEVER);
    Gio().g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

void OnAskQuestion(GMountOperation *op, const char *, const char **, gpointer)
{
    // Nobody is there to answer (a certificate or a choice): give up rather than guess.
    Gio().g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
}

bool MessageSays(const char *message, int err, const char *english)
{
    return std::strstr(message, english) || std::strstr(message, std::strerror(err));
}

// GVfs's smb backend reports most failures as a plain error with the system's text.
quint32 MountErrorCode(const GError *e)
{
    if (e->domain == Gio().g_io_error_quark()) {
        switch (e->code) {
        case G_IO_ERROR_CANCELLED:
        case G_IO_ERROR_TIMED_OUT: return NET_ERROR_SEM_TIMEOUT;
        case G_IO_ERROR_NOT_FOUND: return NET_ERROR_BAD_NET_NAME;
        case G_IO_ERROR_HOST_NOT_FOUND:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_CONNECTION_REFUSED: return NET_ERROR_BAD_NETPATH;
        case G_IO_ERROR_PERMISSION_DENIED: return NET_ERROR_ACCESS_DENIED;
        case G_IO_ERROR_NOT_SUPPORTED: return NET_ERROR_NO_NETWORK;
        default: break;
        }
    }
    const char *m = e->message;
    if (MessageSays(m, ENOENT, "No such file or directory") || MessageSays(m, ENODEV, "No such device"))
        return NET_ERROR_BAD_NET_NAME;
    if (MessageSays(m, ECONNREFUSED, "Connection refused") || MessageSays(m, EHOSTUNREACH, "No route to host")
        || MessageSays(m, ENETUNREACH, "Network is unreachable") || MessageSays(m, EHOSTDOWN, "Host is down")
        || std::strstr(m, "Name or service not known") || MessageSays(m, EINVAL, "Invalid argument"))
        return NET_ERROR_BAD_NETPATH;
    if (MessageSays(m, ETIMEDOUT, "Connection timed out"))
        return NET_ERROR_SEM_TIMEOUT;
    if (MessageSays(m, EACCES, "Permission denied"))
        return NET_ERROR_ACCESS_DENIED;
    return NET_ERROR_UNEXP_NET_ERR;
}

quint32 UnmountOnThread(GMainContext *ctx, GCancellable *cancel, GMount *mount, bool force)
{
    AsyncDone d;
    Gio().g_mount_unmount_with_operation(
        mount, force ? G_MOUNT_UNMOUNT_FORCE : G_MOUNT_UNMOUNT_NONE, nullptr, cancel,
        [](GObject *src, GAsyncResult *res, gpointer data) {
            auto *d = static_cast<AsyncDone *>(data);
            d->ok = Gio().g_mount_unmount_with_operation_finish(reinterpret_cast<GMount *>(src), res, &d->error);
            d->done = true;
        },
        &d);
    Iterate(ctx, d);
    if (d.ok)
        return NET_NO_ERROR;
    if (d.error->domain == Gio().g_io_error_quark() && d.error->code == G_IO_ERROR_BUSY)
        return NET_ERROR_OPEN_FILES;
    return MountErrorCode(d.error);
}

struct Mounted {
    quint32 code = NET_ERROR_UNEXP_NET_ERR;
    QString path; // the mount's POSIX path under the fuse folder
    QString name; // GVfs's name for it, "home on SRV"
    QString uri;
};

// The live mount behind a fuse path, if there is one.
GPtr<GMount> MountAt(const QString &path, GCancellable *cancel)
{
    GPtr<GFile> file(Gio().g_file_new_for_path(QFile::encodeName(path).constData()));
    return GPtr<GMount>(Gio().g_file_find_enclosing_mount(file.get(), cancel, nullptr));
}

Mounted MountOnThread(GMainContext *ctx, GCancellable *cancel, const QByteArray &uri,
                      std::shared_ptr<const Credentials> credentials)
{
    Mounted m;
    // The first use of GIO in a session may be what started gvfsd; it starts gvfsd-fuse
    // a moment later.
    for (int wait = 0; !FuseMounted() && wait < 60 && !Gio().g_cancellable_is_cancelled(cancel); ++wait)
        g_usleep(50000);
    if (!FuseMounted()) {
        m.code = NET_ERROR_NO_NETWORK;
        return m;
    }
    GPtr<GFile> file(Gio().g_file_new_for_uri(uri.constData()));
    GPtr<GMountOperation> op(Gio().g_mount_operation_new());
    Asking asking{credentials.get()};
    Gio().g_signal_connect_data(op.get(), "ask-password", G_CALLBACK(OnAskPassword), &asking, nullptr, GConnectFlags(0));
    Gio().g_signal_connect_data(op.get(), "ask-question", G_CALLBACK(OnAskQuestion), nullptr, nullptr, GConnectFlags(0));
    AsyncDone d;
    Gio().g_file_mount_enclosing_volume(
        file.get(), G_MOUNT_MOUNT_NONE, op.get(), cancel,
        [](GObject *src, GAsyncResult *res, gpointer data) {
            auto *d = static_cast<AsyncDone *>(data);
            d->ok = Gio().g_file_mount_enclosing_volume_finish(reinterpret_cast<GFile *>(src), res, &d->error);
            d->done = true;
        },
        &d);
    Iterate(ctx, d);
    // The operation keeps its own copy of the answer; leave nothing readable in it.
    Gio().g_mount_operation_set_password(op.get(), "");
    // The same share mounted as the same user already (another letter, an earlier run).
    const bool already = !d.ok && g_error_matches(d.error, Gio().g_io_error_quark(), G_IO_ERROR_ALREADY_MOUNTED);
    if (!d.ok && !already) {
        m.code = asking.refused ? NET_ERROR_LOGON_FAILURE : MountErrorCode(d.error);
        return m;
    }
    GPtr<GMount> mount(Gio().g_file_find_enclosing_mount(file.get(), cancel, nullptr));
    if (!mount)
        return m;
    GPtr<GFile> root(Gio().g_mount_get_root(mount.get()));
    const GString_ path(Gio().g_file_get_path(root.get()));
    const GString_ name(Gio().g_mount_get_name(mount.get()));
    const GString_ rootUri(Gio().g_file_get_uri(root.get()));
    if (!path) {
        // Without gvfsd-fuse no other program could use it.
        if (!already)
            UnmountOnThread(ctx, cancel, mount.get(), true);
        m.code = NET_ERROR_NO_NETWORK;
        return m;
    }
    // gvfsd-fuse answers the first use of a path whose share was mounted before with an
    // I/O error while it looks the new mount up: take that error here, not in the script.
    for (int attempt = 0; attempt < 100 && !Gio().g_cancellable_is_cancelled(cancel); ++attempt) {
        if (DIR *dir = ::opendir(path.get())) {
            errno = 0;
            const bool listed = ::readdir(dir) || errno == 0;
            ::closedir(dir);
            if (listed)
                break;
        }
        g_usleep(50000);
    }
    m.code = NET_NO_ERROR;
    m.path = QFile::decodeName(path.get());
    m.name = QString::fromUtf8(name.get());
    m.uri = QString::fromUtf8(rootUri.get());
    return m;
}

QByteArray MountUri(const QString &host, quint16 port, const QString &share, const Credentials &c)
{
    // The user is part of GVfs's key for the mount: two users' mounts of one share stay apart.
    QByteArray uri = "smb://";
    if (!c.domain.isEmpty())
        uri += QUrl::toPercentEncoding(c.domain) + ';';
    uri += QUrl::toPercentEncoding(c.user) + '@' + host.toUtf8();
    if (port != 0)
        uri += ':' + QByteArray::number(port);
    return uri + '/' + QUrl::toPercentEncoding(share) + '/';
}

QString RemoteFromUri(const QString &uri)
{
    const QUrl url(uri);
    QString remote = QStringLiteral("\\\\") + url.host();
    if (url.port() > 0)
        remote += QLatin1Char(':') + QString::number(url.port());
    return remote + QLatin1Char('\\') + url.path().section(QLatin1Char('/'), 1, 1);
}

// Bookmarks: one "URI label" line each; ours are smb: lines whose label starts "H: ".
bool OurBookmark(const QByteArray &line, const QString &drive)
{
    const qsizetype blank = line.indexOf(' ');
    return blank > 0 && line.startsWith("smb://") && line.mid(blank + 1).startsWith(drive.toUtf8() + ' ');
}

void RewriteBookmarks(const QString &drive, const QByteArray &added)
{
    const QString path = BookmarksPath();
    QFile in(path);
    QByteArray text;
    if (in.open(QIODevice::ReadOnly))
        text = in.readAll();
    in.close();
    QByteArray out;
    bool changed = false;
    for (const QByteArray &line : text.split('\n')) {
        if (OurBookmark(line, drive)) {
            changed = true;
            continue;
        }
        if (!line.isEmpty())
            out += line + '\n';
    }
    if (!added.isEmpty()) {
        out += added + '\n';
        changed = true;
    }
    if (!changed)
        return;
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile save(path);
    if (save.open(QIODevice::WriteOnly)) {
        save.write(out);
        save.commit();
    }
}

void Withdraw(const QString &drive)
{
    ::unlink(QFile::encodeName(LinkPath(drive)).constData());
    RewriteBookmarks(drive, QByteArray());
}

bool Publish(const QString &drive, const Mounted &m)
{
    const QByteArray folder = QFile::encodeName(DrivesFolder());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    if (::symlink(QFile::encodeName(m.path).constData(), QFile::encodeName(LinkPath(drive)).constData()) != 0)
        return false;
    RewriteBookmarks(drive, m.uri.toUtf8() + ' ' + drive.toUtf8() + ' ' + m.name.toUtf8());
    return true;
}

struct Found {
    bool live = false;
    QString uri;
};

Found LookUp(const QString &target)
{
    const std::optional<Found> r = OnGioThread<Found>([target](GMainContext *, GCancellable *cancel) {
        Found f;
        GPtr<GMount> mount = MountAt(target, cancel);
        if (!mount)
            return f;
        GPtr<GFile> root(Gio().g_mount_get_root(mount.get()));
        const GString_ path(Gio().g_file_get_path(root.get()));
        // The mount itself, not a folder of a mount that happens to lie below.
        f.live = path && QFile::decodeName(path.get()) == target;
        const GString_ uri(Gio().g_file_get_uri(root.get()));
        f.uri = QString::fromUtf8(uri.get());
        return f;
    });
    return r.value_or(Found{});
}

quint32 UnmountPath(const QString &target, bool force)
{
    const std::optional<quint32> r = OnGioThread<quint32>([target, force](GMainContext *ctx, GCancellable *cancel) {
        GPtr<GMount> mount = MountAt(target, cancel);
        return mount ? UnmountOnThread(ctx, cancel, mount.get(), force) : NET_ERROR_NOT_CONNECTED;
    });
    return r.value_or(NET_ERROR_SEM_TIMEOUT);
}

} // namespace

QString DrivesFolder()
{
    return QDir::homePath() + QStringLiteral("/Network Drives");
}

QString Unavailable()
{
    if (!SessionBusKnown())
        return Missing + QStringLiteral(" (no session bus)");
    if (!Gio().loaded)
        return Missing + QStringLiteral(" (GIO could not be loaded)");
    if (!SmbSupported() || (!FuseMounted() && !QFile::exists(QLatin1String(GvfsdFuse))))
        return Missing;
    return QString();
}

quint32 Mount(const QString &drive, const QString &host, quint16 port, const QString &share,
              const Credentials &credentials)
{
    if (!Unavailable().isEmpty())
        return NET_ERROR_NO_NETWORK;
    bool exists = false;
    const QString target = OurTarget(drive, &exists);
    if (exists) {
        // A link of ours whose mount has gone is free for the taking; anything else is not.
        if (target.isEmpty() || LookUp(target).live)
            return NET_ERROR_ALREADY_ASSIGNED;
        Withdraw(drive);
    }
    auto shared = std::make_shared<Credentials>();
    shared->domain = credentials.domain;
    shared->user = credentials.user;
    shared->password = credentials.password;
    const QByteArray uri = MountUri(host, port, share, credentials);
    const std::optional<Mounted> m = OnGioThread<Mounted>(
        [uri, shared](GMainContext *ctx, GCancellable *cancel) { return MountOnThread(ctx, cancel, uri, shared); },
        [](GMainContext *ctx, const Mounted &late) {
            // The caller gave up: leave no drive behind that nobody knows of.
            if (late.code == NET_NO_ERROR) {
                if (GPtr<GMount> mount = MountAt(late.path, nullptr))
                    UnmountOnThread(ctx, nullptr, mount.get(), true);
            }
        });
    if (!m)
        return NET_ERROR_SEM_TIMEOUT;
    if (m->code != NET_NO_ERROR)
        return m->code;
    if (!Publish(drive, *m)) {
        UnmountPath(m->path, true);
        return NET_ERROR_ALREADY_ASSIGNED;
    }
    return NET_NO_ERROR;
}

quint32 Unmount(const QString &drive, bool force)
{
    const QString target = OurTarget(drive);
    if (target.isEmpty())
        return NET_ERROR_NOT_CONNECTED;
    // Another letter on the same mount keeps it; this letter alone goes.
    bool shared = false;
    for (char l = 'A'; l <= 'Z'; ++l) {
        const QString other = QString(QLatin1Char(l)) + QLatin1Char(':');
        if (other != drive && OurTarget(other) == target)
            shared = true;
    }
    const quint32 code = shared ? NET_NO_ERROR : UnmountPath(target, force);
    if (code == NET_NO_ERROR || code == NET_ERROR_NOT_CONNECTED)
        Withdraw(drive);
    return code;
}

bool IsLive(const QString &drive)
{
    const QString target = OurTarget(drive);
    return !target.isEmpty() && LookUp(target).live;
}

void WithdrawStale()
{
    for (char l = 'A'; l <= 'Z'; ++l) {
        const QString drive = QString(QLatin1Char(l)) + QLatin1Char(':');
        const QString target = OurTarget(drive);
        if (!target.isEmpty() && !LookUp(target).live)
            Withdraw(drive);
    }
}

QList<Drive> List()
{
    QList<Drive> drives;
    for (char l = 'A'; l <= 'Z'; ++l) {
        const QString drive = QString(QLatin1Char(l)) + QLatin1Char(':');
        const QString target = OurTarget(drive);
        if (target.isEmpty())
            continue;
        const Found f = LookUp(target);
        if (f.live)
            drives.append({drive, RemoteFromUri(f.uri)});
    }
    return drives;
}

} // namespace platform::gvfs
