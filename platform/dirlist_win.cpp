#include "platform/dirlist_p.h"

#include <algorithm>
#include <climits>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

FileTime ToFileTime(const FILETIME &ft)
{
    return static_cast<FileTime>((static_cast<quint64>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

QString Join(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    const QChar last = folder.back();
    return last == u'\\' || last == u'/' || last == u':' ? folder + name : folder + u'\\' + name;
}

// Ordinal with each UTF-16 unit upper-cased, the order NTFS keeps its folders in.
bool NameBefore(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].toUpper().unicode(), y = b[i].toUpper().unicode();
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // names differing only in case: a fixed order
}

} // namespace

bool ToLocalTime(FileTime time, LocalTime &out)
{
    if (time < 0)
        return false;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(quint64(time) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(quint64(time) >> 32);
    // The offset of that date, not today's (FileTimeToLocalFileTime's), so that a summer
    // file reads the same in winter.
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return false;
    out = LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                    local.wMilliseconds};
    return true;
}

QString FullPathName(const QString &path)
{
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = path.isEmpty() ? GetCurrentDirectoryW(DWORD(buf.size()), buf.data())
                                       : GetFullPathNameW(W(path), DWORD(buf.size()), buf.data(), nullptr);
        if (n == 0)
            return path;
        if (n < buf.size())
            return QString::fromWCharArray(buf.data(), int(n));
        buf.resize(n);
    }
}

struct DirectoryLister::Impl {
    QString folder;
    bool open = false;
    std::optional<FolderId> id;
    std::optional<MaskMatcher> matcher;
    bool collect = false;
    std::vector<Subfolder> subfolders;
    // The folder's entries, read once and sorted as NTFS lists them.
    struct Entry {
        QString name;
        quint32 attr;
        qint64 size;
        FileTime created, accessed, written;
    };
    std::vector<Entry> entries;
    size_t next = 0;
    bool read = false;
    const Entry *current = nullptr;

    void Open(const QString &path)
    {
        folder = path.isEmpty() ? QStringLiteral(".") : path;
        // Backup semantics open a folder; the handle serves only to tell which folder it is.
        const HANDLE h = CreateFileW(W(folder), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return;
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            open = true;
            id = FolderId{info.dwVolumeSerialNumber,
                          (static_cast<quint64>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
        }
        CloseHandle(h);
    }
};

void DirectoryLister::ReadAll()
{
    Impl &s = *d;
    s.read = true;
    const QString pattern = Join(s.folder, QStringLiteral("*"));
    WIN32_FIND_DATAW fd;
    // No short names and larger batches; systems before Windows 7 know neither.
    HANDLE h = FindFirstFileExW(W(pattern), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        h = FindFirstFileExW(W(pattern), FindExInfoStandard, &fd, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        s.entries.push_back({QString::fromWCharArray(fd.cFileName), fd.dwFileAttributes,
                             static_cast<qint64>((static_cast<quint64>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow),
                             ToFileTime(fd.ftCreationTime), ToFileTime(fd.ftLastAccessTime),
                             ToFileTime(fd.ftLastWriteTime)});
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    // NTFS lists in this order already; FAT and network file systems need not.
    std::sort(s.entries.begin(), s.entries.end(),
              [](const Impl::Entry &a, const Impl::Entry &b) { return NameBefore(a.name, b.name); });
}

DirectoryLister::DirectoryLister(const QString &folder) : d(std::make_unique<Impl>())
{
    d->Open(folder);
}

DirectoryLister::DirectoryLister(const DirectoryLister &parent, const Subfolder &sub) : d(std::make_unique<Impl>())
{
    // Windows stores names as UTF-16, which a QString holds unchanged: the name is enough.
    if (parent.d->open)
        d->Open(Join(parent.d->folder, sub.Name));
}

DirectoryLister::~DirectoryLister() = default;

bool DirectoryLister::IsOpen() const
{
    return d->open;
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
    if (!d->open)
        return false;
    if (!d->read)
        ReadAll();
    while (d->next < d->entries.size()) {
        const Impl::Entry &entry = d->entries[d->next++];
        const bool matches = d->matcher && d->matcher->Matches(entry.name);
        const bool dots = entry.name == QLatin1String(".") || entry.name == QLatin1String("..");
        const bool isDir = entry.attr & FILE_ATTRIBUTE_DIRECTORY;
        if (d->collect && isDir && !dots)
            d->subfolders.push_back(Subfolder{entry.name, QByteArray()});
        if (!matches)
            continue;
        rec.Attr = entry.attr;
        rec.Size = isDir ? 0 : entry.size;
        rec.FindData.CreationTime = entry.created;
        rec.FindData.LastAccessTime = entry.accessed;
        rec.FindData.LastWriteTime = entry.written;
        rec.Time = FileTimeToPackedDateTime(entry.written);
        rec.Name = entry.name;
        d->current = &entry;
        return true;
    }
    return false;
}

bool DirectoryLister::OpenCurrent(SequentialFile &file) const
{
    file.Close();
    if (!d->current || (d->current->attr & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // Others may go on reading and writing the file while it is scanned.
    const HANDLE h = CreateFileW(W(Join(d->folder, d->current->name)), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return false;
    }
    file.m_fd = fd;
    file.m_size = d->current->size;
    return true;
}

SequentialFile::~SequentialFile()
{
    Close();
}

void SequentialFile::Close()
{
    if (m_fd >= 0)
        _close(m_fd);
    m_fd = -1;
    m_size = 0;
}

qint64 SequentialFile::Read(char *buffer, qint64 count)
{
    if (m_fd < 0)
        return -1;
    return _read(m_fd, buffer, static_cast<unsigned>(std::min<qint64>(count, INT_MAX)));
}

} // namespace platform
