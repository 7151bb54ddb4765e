#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>
#include <QByteArray>

namespace platform {

// Attribute bits of a directory entry, valued as Windows reports them.
constexpr quint32 FILE_ATTRIBUTE_READONLY = 0x01;
constexpr quint32 FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr quint32 FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr quint32 FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr quint32 FILE_ATTRIBUTE_ARCHIVE = 0x20;

// 100-nanosecond intervals since 1 January 1601 UTC.
using FileTime = qint64;

struct FindData {
    FileTime CreationTime = 0;
    FileTime LastAccessTime = 0;
    FileTime LastWriteTime = 0;
};

// A UTC file time as a local date-time value (days since 30 December 1899, time as fraction).
double FileTimeToLocalDateTime(FileTime time);
// The same moment as a packed local date and time (0 outside 1980..2107).
qint32 FileTimeToPackedDateTime(FileTime time);

// The path made absolute against the current directory, "." and ".." resolved; a
// trailing delimiter stays. An empty path is the current directory.
QString FullPathName(const QString &path);

// Identifies a folder whatever path leads to it (links included).
struct FolderId {
    quint64 Device = 0;
    quint64 Inode = 0;
    bool operator==(const FolderId &) const = default;
};

} // namespace platform

// One directory entry as the folder listing yields it.
struct TSearchRec {
    qint32 Time = 0;   // last write, packed local date and time
    qint64 Size = 0;
    quint32 Attr = 0;  // platform::FILE_ATTRIBUTE_* bits
    QString Name;      // without folder
    platform::FindData FindData;
};

namespace platform {

class SequentialFile;

// Whether an entry name, as UTF-8 bytes, matches MASK by the listing's rules below; an
// empty mask matches nothing. The listing itself uses the same rules.
bool MatchesMask(const QString &mask, const QByteArray &name);

// Reads a folder once: yields the entries whose names match a mask, with Windows'
// wildcard rules (case ignored, "*" and "*.*" match every name, "?" exactly one
// character, a trailing ".*" also matches a name without a dot), and remembers every
// subfolder met whatever its name, so that a walk needs one pass per folder. "." and
// ".." are listed like any entry. Names come in ordinal order with letter case ignored,
// as Windows' own file system lists them. A folder that cannot be read lists nothing; an
// entry that vanishes while listed is left out.
class DirectoryLister {
public:
    struct Subfolder {
        QString Name;
        QByteArray Native; // the name as stored, for names that are not valid text; empty on Windows
    };

    explicit DirectoryLister(const QString &folder);
    // A subfolder of an open listing, by its stored name.
    DirectoryLister(const DirectoryLister &parent, const Subfolder &sub);
    ~DirectoryLister();
    DirectoryLister(const DirectoryLister &) = delete;
    DirectoryLister &operator=(const DirectoryLister &) = delete;

    bool IsOpen() const;
    std::optional<FolderId> Id() const;

    void SetMask(const QString &mask);
    void SetCollectSubfolders(bool collect);
    bool Next(TSearchRec &rec);
    // Complete once Next has returned false.
    const std::vector<Subfolder> &Subfolders() const;
    // Opens the entry Next returned last for reading; false unless it is a regular file.
    bool OpenCurrent(SequentialFile &file) const;

private:
    void ReadAll();
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A regular file read from start to end for the content test, opened through
// DirectoryLister::OpenCurrent.
class SequentialFile {
public:
    SequentialFile() = default;
    ~SequentialFile();
    SequentialFile(const SequentialFile &) = delete;
    SequentialFile &operator=(const SequentialFile &) = delete;

    // Bytes read, 0 at the end, -1 on a read error.
    qint64 Read(char *buffer, qint64 count);
    // The size when opened.
    qint64 Size() const { return m_size; }

private:
    friend class DirectoryLister;
    void Close();
    int m_fd = -1;
    qint64 m_size = 0;
};

} // namespace platform
