#pragma once

#include <QIODevice>
#include <QList>
#include <QString>
#include <memory>

// The network provider: share connections made with explicit credentials, and file
// access on UNC paths (\\server\share\..., or \\server:port\share\...) through them.
namespace platform {

// Windows-style results of the connection calls.
constexpr quint32 NET_NO_ERROR = 0;
constexpr quint32 NET_ERROR_ACCESS_DENIED = 5;
constexpr quint32 NET_ERROR_BAD_NETPATH = 53;       // server not found or not listening
constexpr quint32 NET_ERROR_UNEXP_NET_ERR = 59;
constexpr quint32 NET_ERROR_BAD_NET_NAME = 67;      // no such share, or a malformed name
constexpr quint32 NET_ERROR_ALREADY_ASSIGNED = 85;  // the drive name is taken
constexpr quint32 NET_ERROR_SEM_TIMEOUT = 121;      // the server did not answer in time
constexpr quint32 NET_ERROR_BAD_DEVICE = 1200;
constexpr quint32 NET_ERROR_SESSION_CREDENTIAL_CONFLICT = 1219;
constexpr quint32 NET_ERROR_NO_SUCH_LOGON_SESSION = 1312; // no session for this server
constexpr quint32 NET_ERROR_NO_NETWORK = 1222;
constexpr quint32 NET_ERROR_LOGON_FAILURE = 1326;   // wrong user name or password
constexpr quint32 NET_ERROR_NOT_CONNECTED = 2250;
constexpr quint32 NET_ERROR_OPEN_FILES = 2401;

// Connects remoteName (\\server\share) with the credentials, as drive localName ("H:")
// or deviceless when localName is empty. A deviceless connection's credentials stay in
// this process's memory until it is cancelled; a drive is a connection of the whole
// desktop session. NET_NO_ERROR on success.
quint32 AddConnection(const QString &localName, const QString &remoteName,
                      const QString &user, const QString &password);
// Cancels a drive connection ("H:") or the deviceless connection to a remote name.
// Without force, a connection with open files stays.
quint32 CancelConnection(const QString &name, bool force);
// "X:" is a live drive connection of this session, also one an earlier run made.
bool IsRemoteDrive(const QString &drive);
// Withdraws what still names drives whose connections ended without this process: off
// Windows, a desktop session that ended takes its mounts along but leaves their links
// and bookmarks. Live drives stay. Windows drops a session's drives with it.
void WithdrawStaleDrives();

// Connects as AddConnection does, with the credentials of a deviceless connection this
// process holds to the same server (that share's first): a session's credentials serve
// its later connections. NET_ERROR_NO_SUCH_LOGON_SESSION when there is none.
quint32 AddConnectionForSession(const QString &localName, const QString &remoteName);
// Cancels every deviceless connection: the credentials they hold are gone.
void CancelDevicelessConnections();

struct NetConnection {
    QString local;  // "H:", or empty for a deviceless connection
    QString remote; // \\server\share
};
// The drive connections of the session, then this process's deviceless ones.
QList<NetConnection> ListConnections();

// A result code's meaning for a person, lower case, ending with a full stop.
QString NetErrorText(quint32 code);

// File access on UNC paths with the credentials of a connection to that share (or,
// failing that, of another connection to the same server).
bool NetFileExists(const QString &path);
bool NetDirectoryExists(const QString &path);
bool NetDeleteFile(const QString &path);
// Throws EInOutError (2 not found, 3 bad path, 5 access denied).
std::unique_ptr<QIODevice> NetOpenReadStream(const QString &path);

// How long a caller waits for one network call before giving it up.
constexpr int DefaultNetTimeoutMs = 15000;
int NetTimeout();

} // namespace platform
