#include "platform/dirlist_p.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr qint64 kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr qint64 kEpochDelta = 11'644'473'600;

FileTime ToFileTime(qint64 sec, qint64 nsec)
{
    return (sec + kEpochDelta) * kTicksPerSecond + nsec / 100;
}

std::atomic<bool> g_noStatx{false};

// Follows links; a dangling link is listed as itself. False when the entry is gone.
bool StatEntry(int dirfd, const char *name, TSearchRec &rec, mode_t &mode)
{
    mode = 0;
    qint64 size = 0;
    FileTime created = 0, accessed = 0, written = 0;
    bool done = false;
#ifdef STATX_BTIME
    if (!g_noStatx.load(std::memory_order_relaxed)) {
        struct statx sx;
        int r = statx(dirfd, name, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx);
        if (r != 0 && (errno == ENOENT || errno == ELOOP))
            r = statx(dirfd, name, AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW,
                      STATX_BASIC_STATS | STATX_BTIME, &sx);
        if (r == 0) {
            mode = sx.stx_mode;
            size = static_cast<qint64>(sx.stx_size);
            accessed = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
            written = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
            // The birth time where the file system records it, else the change time.
            created = (sx.stx_mask & STATX_BTIME) ? ToFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                                  : ToFileTime(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
            done = true;
        } else if (errno == ENOSYS) {
            g_noStatx = true;
        } else {
            return false;
        }
    }
#endif
    if (!done) {
        struct stat st;
        int r = fstatat(dirfd, name, &st, 0);
        if (r != 0 && (errno == ENOENT || errno == ELOOP))
            r = fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW);
        if (r != 0)
            return false;
        mode = st.st_mode;
        size = st.st_size;
        accessed = ToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
        written = ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        created = ToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    }
    quint32 attr = 0;
    if (S_ISREG(mode))
        attr |= FILE_ATTRIBUTE_ARCHIVE;
    if (S_ISDIR(mode))
        attr |= FILE_ATTRIBUTE_DIRECTORY;
    // Read-only is a file's matter; a folder is only a folder, as under the default filter on Windows.
    if (!S_ISDIR(mode) && !(mode & S_IWUSR))
        attr |= FILE_ATTRIBUTE_READONLY;
    rec.Attr = attr;
    rec.Size = S_ISREG(mode) ? size : 0;
    rec.FindData.CreationTime = created;
    rec.FindData.LastAccessTime = accessed;
    rec.FindData.LastWriteTime = written;
    rec.Time = FileTimeToPackedDateTime(written);
    return true;
}

} // namespace

bool ToLocalTime(FileTime time, LocalTime &out)
{
    qint64 sec = time / kTicksPerSecond;
    qint64 rest = time % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --sec;
    }
    const time_t t = static_cast<time_t>(sec - kEpochDelta);
    struct tm tm{};
    if (!localtime_r(&t, &tm))
        return false;
    out = LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                    static_cast<int>(rest / 10'000)};
    return true;
}

QString FullPathName(const QString &path)
{
    if (path.isEmpty())
        return QDir::currentPath();
    QString full = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    if (path.endsWith(QLatin1Char('/')) && !full.endsWith(QLatin1Char('/')))
        full += QLatin1Char('/');
    return full;
}

struct DirectoryLister::Impl {
    DIR *dir = nullptr;
    std::optional<FolderId> id;
    std::optional<MaskMatcher> matcher;
    bool collect = false;
    std::vector<Subfolder> subfolders;
    // The folder's names, read once and sorted as Windows' file system lists them.
    std::string pool;
    struct Entry {
        size_t offset;
        size_t len;
        unsigned char type;
    };
    std::vector<Entry> entries;
    size_t next = 0;
    bool read = false;
    const char *current = nullptr; // points into pool
    bool currentRegular = false;
    qint64 currentSize = 0;

    void Adopt(int fd)
    {
        if (fd < 0)
            return;
        struct stat st;
        if (::fstat(fd, &st) == 0)
            id = FolderId{static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
        dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            id.reset();
        }
    }
};

namespace {
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

unsigned char upperAscii(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Ordinal order with ASCII letter case ignored, the order NTFS keeps its folders in.
// UTF-8 bytes compare in code-point order, so names outside ASCII sort by code point.
bool nameBefore(const char *a, size_t alen, const char *b, size_t blen)
{
    const size_t n = std::min(alen, blen);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = upperAscii(static_cast<unsigned char>(a[i]));
        const unsigned char y = upperAscii(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    if (alen != blen)
        return alen < blen;
    return std::memcmp(a, b, n) < 0; // names differing only in case: a fixed order
}
} // namespace

void DirectoryLister::ReadAll()
{
    Impl &s = *d;
    s.read = true;
    while (struct dirent *e = ::readdir(s.dir)) {
        const size_t len = std::strlen(e->d_name);
        s.entries.push_back({s.pool.size(), len, e->d_type});
        s.pool.append(e->d_name, len + 1);
    }
    const char *pool = s.pool.data();
    std::sort(s.entries.begin(), s.entries.end(), [pool](const Impl::Entry &a, const Impl::Entry &b) {
        return nameBefore(pool + a.offset, a.len, pool + b.offset, b.len);
    });
}


DirectoryLister::DirectoryLister(const QString &folder) : d(std::make_unique<Impl>())
{
    const QByteArray path = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    d->Adopt(::open(path.constData(), kDirFlags));
}

DirectoryLister::DirectoryLister(const DirectoryLister &parent, const Subfolder &sub) : d(std::make_unique<Impl>())
{
    // Relative to the parent: shorter lookups, and names that are not valid text still open.
    if (parent.d->dir)
        d->Adopt(::openat(::dirfd(parent.d->dir), sub.Native.constData(), kDirFlags));
}

DirectoryLister::~DirectoryLister()
{
    if (d->dir)
        ::closedir(d->dir);
}

bool DirectoryLister::IsOpen() const
{
    return d->dir != nullptr;
}

std::optional<FolderId> DirectoryLister::Id() const
{
    return d->id;
}

void DirectoryLister::SetMask(const QString &mask)
{
    // An empty mask names no entry, as on Windows.
    if (mask.isEmpty())
        d->matcher.reset();
    else
        d->matcher.emplace(mask);
}

void DirectoryLister::SetCollectSubfolders(bool collect)
{
    d->collect = collect;
}

const std::vector<DirectoryLister::Subfolder> &DirectoryLister::Subfolders() const
{
    return d->subfolders;
}

bool DirectoryLister::Next(TSearchRec &rec)
{
    d->current = nullptr;
    if (!d->dir)
        return false;
    if (!d->read)
        ReadAll();
    const int fd = ::dirfd(d->dir);
    while (d->next < d->entries.size()) {
        const Impl::Entry &entry = d->entries[d->next++];
        const char *name = d->pool.data() + entry.offset;
        const qsizetype len = static_cast<qsizetype>(entry.len);
        const unsigned char type = entry.type;
        const bool matches = d->matcher && d->matcher->Matches(name, len);
        const bool dots = name[0] == '.' && (len == 1 || (len == 2 && name[1] == '.'));
        if (!matches && (!d->collect || dots))
            continue;
        mode_t mode = 0;
        bool isDir = false;
        if (matches) {
            if (!StatEntry(fd, name, rec, mode))
                continue; // gone since the folder was read
            isDir = S_ISDIR(mode);
        } else {
            isDir = type == DT_DIR;
            if (type == DT_LNK || type == DT_UNKNOWN) {
                struct stat st;
                isDir = fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
            }
        }
        QString decoded;
        if (matches || (isDir && !dots))
            decoded = QFile::decodeName(QByteArray::fromRawData(name, len));
        if (d->collect && isDir && !dots)
            d->subfolders.push_back(Subfolder{decoded, QByteArray(name, len)});
        if (matches) {
            rec.Name = decoded;
            d->current = name;
            d->currentRegular = S_ISREG(mode);
            d->currentSize = rec.Size;
            return true;
        }
    }
    return false;
}

bool DirectoryLister::OpenCurrent(SequentialFile &file) const
{
    file.Close();
    // Only regular files: a device or a pipe could be read forever or block.
    if (!d->current || !d->currentRegular)
        return false;
    const int fd = ::openat(::dirfd(d->dir), d->current, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    file.m_fd = fd;
    file.m_size = d->currentSize;
    return true;
}

SequentialFile::~SequentialFile()
{
    Close();
}

void SequentialFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
}

qint64 SequentialFile::Read(char *buffer, qint64 count)
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, static_cast<size_t>(count));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace platform
