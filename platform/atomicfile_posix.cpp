#include "platform/atomicfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool WriteAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, size_t(left));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        p += put;
        left -= put;
    }
    return true;
}

// The owner, group and mode the replacement gets.
struct Access {
    uid_t owner = uid_t(-1);
    gid_t group = gid_t(-1);
    mode_t mode = 0644;
};

Access AccessFor(const struct stat *old, const struct stat &folder)
{
    Access a;
    if (old) {
        a.mode = old->st_mode & 07777;
        a.group = old->st_gid;
        if (::geteuid() == 0)
            a.owner = old->st_uid;
    } else if (folder.st_mode & (S_ISGID | S_IWGRP)) {
        a.mode = 0664;
        a.group = folder.st_gid;
    }
    return a;
}

} // namespace

bool ReplaceFileContents(const QString &path, const QByteArray &bytes)
{
    // A link stays a link: its target is what gets replaced.
    const QFileInfo link(path);
    const QString target = link.isSymLink() ? link.symLinkTarget() : path;
    const QFileInfo info(target);
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folderName = QFile::encodeName(info.absolutePath());

    struct stat old {};
    const bool exists = ::stat(file.constData(), &old) == 0;
    if (exists ? !S_ISREG(old.st_mode) : errno != ENOENT)
        return false; // never replace a folder or a device, nor guess about what cannot be seen
    // A writable folder is not enough: a file the writer may not change stays as it is.
    if (exists && ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0)
        return false;
    struct stat folder {};
    if (::stat(folderName.constData(), &folder) != 0)
        return false;

    // A dot name: the profile lists never show the temporary file. The dot and the
    // suffix must not push it past the longest name the file's own name may have.
    QByteArray base = QFile::encodeName(info.fileName());
    constexpr qsizetype Extra = 8; // "." and ".XXXXXX"
    if (base.size() + Extra > NAME_MAX) {
        base.truncate(NAME_MAX - Extra);
        while (!base.isEmpty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80)
            base.chop(1); // a continuation byte: drop the cut character whole
        if (!base.isEmpty() && static_cast<unsigned char>(base.back()) >= 0xC0)
            base.chop(1);
    }
    QByteArray temp = folderName + "/." + base + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const Access a = AccessFor(exists ? &old : nullptr, folder);
    // The group (and, for root, the owner) first: a change of owner clears set-ID bits.
    // A writer outside the file's group cannot keep it; the file then gets the writer's.
    [[maybe_unused]] const bool kept =
        (a.owner == uid_t(-1) && a.group == gid_t(-1)) || ::fchown(fd, a.owner, a.group) == 0;
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, a.mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.constData(), file.constData()) == 0)
        return true;
    ::unlink(temp.constData());
    return false;
}

} // namespace platform
