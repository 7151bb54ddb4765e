#pragma once

#include <QList>
#include <QString>

#include <string>

// Drive connections off Windows: mounts of the desktop session through GIO and GVfs,
// each published as ~/Network Drives/<letter> (a link to the mount's POSIX path under
// gvfsd-fuse) and as a file-manager bookmark named after the letter. Every call here
// blocks its caller for at most the network timeout, dispatching window messages.
namespace platform::gvfs {

struct Credentials {
    QString domain; // empty: the server's own
    QString user;
    std::string password;
    ~Credentials();
};

struct Drive {
    QString letter; // "H:"
    QString remote; // \\server[:port]\share
};

// Empty when drives can be mounted here; otherwise the reason, for a person.
QString Unavailable();

// Mounts smb://host[:port]/share for drive ("H:", upper case). A NET_* result code.
quint32 Mount(const QString &drive, const QString &host, quint16 port, const QString &share,
              const Credentials &credentials);
// Unmounts the drive and withdraws its link and bookmark. Without force, a drive with
// open files stays. A stale link (its mount gone) is withdrawn and counts as not connected.
quint32 Unmount(const QString &drive, bool force);
// The drive's link leads to a live mount of this session.
bool IsLive(const QString &drive);
// Withdraws the links and bookmarks of our drives whose mounts are gone.
void WithdrawStale();
// The live drives, in letter order.
QList<Drive> List();

// Where the links live: ~/Network Drives.
QString DrivesFolder();

} // namespace platform::gvfs
