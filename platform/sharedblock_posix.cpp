#include "platform/sharedblock.h"

#include "platform/errors.h"
#include "platform/runtimefolder.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// The block is a file in this user's private runtime folder, mapped by every copy; a
// second file, "<block>.lock", is the lock whose exclusive flock serialises every open,
// update and close. Each copy holding the block keeps a shared flock on the block itself,
// so a copy that can take it exclusively (under the lock file) knows no live copy holds
// it. flock belongs to the open file description and is dropped by the kernel when a copy
// dies; the files are opened close-on-exec, so started programs never inherit them.
// No other user can reach the folder, so nobody else can hold the lock or preset the
// count; a file that is not this user's own, mode 0600, is refused all the same.

namespace platform {

namespace {

static_assert(sizeof(SharedBlock::View) == 8, "the block is 8 bytes");

// The files live in a folder of this user's alone. A name may not contain '/', so '%'
// and '/' are escaped and different block names stay different files. Over-long names
// keep a readable head and end in a hash of the whole name.
QByteArray ObjectName(const QString &name)
{
    const QString folder = PrivateRuntimeFolder();
    if (folder.isEmpty()) {
        errno = EACCES;
        RaiseLastOSError("no private runtime folder");
    }
    QByteArray escaped;
    for (char c : name.toUtf8()) {
        if (c == '%')
            escaped += "%25";
        else if (c == '/')
            escaped += "%2F";
        else
            escaped += c;
    }
    QByteArray object = "tavro-guard." + escaped;
    if (object.size() > 200) // NAME_MAX is 255, with room for ".lock"
        object = object.left(150) + '.' + QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QFile::encodeName(folder) + '/' + object;
}

int OpenObject(const QByteArray &object, bool create)
{
    const int fd = ::open(object.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (fd < 0)
        return fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

void UnlinkObject(const QByteArray &object)
{
    ::unlink(object.constData());
}

// Holds the exclusive lock on the lock file for its lifetime.
class SerialLock {
public:
    SerialLock(const QByteArray &block, bool create) : m_object(block + ".lock")
    {
        for (;;) {
            m_fd = OpenObject(m_object, create);
            if (m_fd < 0) {
                if (!create && errno == ENOENT)
                    return;
                RaiseLastOSError("open");
            }
            int rc;
            while ((rc = ::flock(m_fd, LOCK_EX)) < 0 && errno == EINTR) {
            }
            struct stat st {};
            if (rc < 0 || ::fstat(m_fd, &st) < 0) {
                const int err = errno;
                ::close(m_fd);
                errno = err;
                RaiseLastOSError("flock");
            }
            // The last copy to leave unlinks the lock file while holding it; a copy that
            // waited on the old file starts over on the current one.
            if (st.st_nlink > 0)
                return;
            ::close(m_fd);
        }
    }
    ~SerialLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Held() const { return m_fd >= 0; }
    void Unlink() { UnlinkObject(m_object); }

private:
    QByteArray m_object;
    int m_fd = -1;
};

// Probes by trying to hold it alone (and then does, until released or closed).
bool HeldByLiveCopy(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return false;
    if (errno != EWOULDBLOCK)
        RaiseLastOSError("flock");
    return true;
}

template<typename Step>
void WithView(int fd, const Step &step)
{
    void *p = ::mmap(nullptr, sizeof(SharedBlock::View), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        step(nullptr);
        return;
    }
    auto unmap = qScopeGuard([p] { ::munmap(p, sizeof(SharedBlock::View)); });
    step(static_cast<SharedBlock::View *>(p));
}

} // namespace

SharedBlock::SharedBlock(const QString &name) : m_name(name) {}

SharedBlock::~SharedBlock()
{
    Close();
}

void SharedBlock::Open(const OpenStep &step)
{
    Close();
    const QByteArray object = ObjectName(m_name);
    SerialLock lock(object, true);

    const int fd = OpenObject(object, true);
    if (fd < 0)
        RaiseLastOSError("open");
    auto closeOnError = qScopeGuard([fd] { ::close(fd); });

    const bool existed = HeldByLiveCopy(fd);
    // Nobody alive holds it: whatever it holds was left by copies that died.
    if (!existed && ::ftruncate(fd, 0) < 0)
        RaiseLastOSError("ftruncate");
    struct stat st {};
    if (::fstat(fd, &st) < 0)
        RaiseLastOSError("fstat");
    if (st.st_size < qint64(sizeof(View)) && ::ftruncate(fd, sizeof(View)) < 0)
        RaiseLastOSError("ftruncate");
    // Others hold it shared at most, and nobody takes it exclusively without the lock file.
    if (::flock(fd, LOCK_SH | LOCK_NB) < 0)
        RaiseLastOSError("flock");
    closeOnError.dismiss();
    m_handle = fd;

    WithView(fd, [&](View *view) { step(view, existed); });
}

void SharedBlock::Update(const UpdateStep &step)
{
    if (!IsOpen())
        return;
    SerialLock lock(ObjectName(m_name), true);
    WithView(int(m_handle), step);
}

void SharedBlock::Close()
{
    if (!IsOpen())
        return;
    const int fd = int(m_handle);
    m_handle = -1;
    const QByteArray object = ObjectName(m_name);
    try {
        SerialLock lock(object, true);
        // Able to hold it alone: this was the last copy, so the block goes, as on Windows.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            UnlinkObject(object);
            lock.Unlink();
        }
    } catch (const Exception &) {
        // Without the lock the block simply stays; the next copy starts it afresh.
    }
    ::close(fd);
}

bool SharedBlock::Peek(const QString &name, View &view)
{
    const QByteArray object = ObjectName(name);
    SerialLock lock(object, false);
    if (!lock.Held())
        return false;
    const int fd = OpenObject(object, false);
    if (fd < 0)
        return false;
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (!HeldByLiveCopy(fd))
        return false;
    bool read = false;
    WithView(fd, [&](View *v) {
        if (v) {
            view = *v;
            read = true;
        }
    });
    return read;
}

void SharedBlock::Remove(const QString &name)
{
    const QByteArray object = ObjectName(name);
    SerialLock lock(object, false);
    const int fd = OpenObject(object, false);
    if (fd >= 0) {
        const bool live = HeldByLiveCopy(fd);
        ::close(fd);
        if (live)
            return;
        UnlinkObject(object);
    }
    if (lock.Held())
        lock.Unlink();
}

} // namespace platform
