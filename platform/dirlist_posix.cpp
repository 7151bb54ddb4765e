#include "platform/dirlist.h"

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

// Days from 1970-01-01 to a proleptic Gregorian date.
qint64 DaysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

bool ToLocal(FileTime time, struct tm &out, int &ms)
{
    qint64 sec = time / kTicksPerSecond;
    qint64 rest = time % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --sec;
    }
    const time_t t = static_cast<time_t>(sec - kEpochDelta);
    ms = static_cast<int>(rest / 10'000);
    return localtime_r(&t, &out) != nullptr;
}

unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Wildcard match of an upper-cased mask against a name; Same compares one
// mask character with one name character.
template <typename C, typename Same>
bool Glob(const C *m, qsizetype mn, const C *s, qsizetype sn, Same same)
{
    qsizetype mi = 0, si = 0, starM = -1, starS = 0;
    while (si < sn) {
        if (mi < mn && m[mi] == C('*')) {
            starM = mi++;
            starS = si;
        } else if (mi < mn && (m[mi] == C('?') || same(m[mi], s[si]))) {
            ++mi;
            ++si;
        } else if (starM >= 0) {
            mi = starM + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (mi < mn && m[mi] == C('*'))
        ++mi;
    // "name.*" also lists "name".
    return mi == mn || (mn - mi == 2 && m[mi] == C('.') && m[mi + 1] == C('*'));
}

// Upper case one UTF-16 unit at a time, as Windows compares names: QString::toUpper
// would make "\u00DF" two letters, so that "?" missed it and "SS" matched it.
QString UnitUpper(QString s)
{
    for (QChar &c : s)
        c = c.toUpper();
    return s;
}

class MaskMatcher {
public:
    explicit MaskMatcher(const QString &mask)
        : m_all(mask == QLatin1String("*") || mask == QLatin1String("*.*")), m_upper(UnitUpper(mask))
    {
        bool ascii = true;
        for (QChar c : mask)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii) {
            m_ascii = mask.toLatin1();
            for (char &c : m_ascii)
                c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
        }
        m_asciiValid = ascii;
    }

    bool Matches(const char *name, qsizetype len) const
    {
        if (m_all)
            return true;
        bool ascii = true;
        for (qsizetype i = 0; i < len && ascii; ++i)
            ascii = static_cast<unsigned char>(name[i]) < 0x80;
        if (ascii && m_asciiValid)
            return Glob(m_ascii.constData(), m_ascii.size(), name, len,
                        [](char a, char b) { return a == static_cast<char>(Fold(static_cast<unsigned char>(b))); });
        const QString upper = UnitUpper(QFile::decodeName(QByteArray::fromRawData(name, len)));
        return Glob(m_upper.constData(), m_upper.size(), upper.constData(), upper.size(),
                    [](QChar a, QChar b) { return a == b; });
    }

private:
    bool m_all;
    bool m_asciiValid = false;
    QString m_upper;
    QByteArray m_ascii;
};

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

double FileTimeToLocalDateTime(FileTime time)
{
    struct tm t{};
    int ms = 0;
    if (!ToLocal(time, t, ms))
        return 0;
    const qint64 days = DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                                      static_cast<unsigned>(t.tm_mday))
                        - DaysFromCivil(1899, 12, 30);
    const double frac = ((t.tm_hour * 60.0 + t.tm_min) * 60.0 + t.tm_sec + ms / 1000.0) / 86400.0;
    // Before 1899-12-30 the time of day still counts forward from midnight.
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

qint32 FileTimeToPackedDateTime(FileTime time)
{
    struct tm t{};
    int ms = 0;
    if (!ToLocal(time, t, ms))
        return 0;
    const int year = t.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return 0;
    const quint32 date = (static_cast<quint32>(year - 1980) << 9) | (static_cast<quint32>(t.tm_mon + 1) << 5)
                         | static_cast<quint32>(t.tm_mday);
    const quint32 tod = (static_cast<quint32>(t.tm_hour) << 11) | (static_cast<quint32>(t.tm_min) << 5)
                        | static_cast<quint32>(t.tm_sec / 2);
    return static_cast<qint32>((date << 16) | tod);
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

bool MatchesMask(const QString &mask, const QByteArray &name)
{
    return !mask.isEmpty() && MaskMatcher(mask).Matches(name.constData(), name.size());
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
