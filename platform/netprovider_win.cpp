#include "platform/netprovider.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/memoryguard.h"
#include "platform/pendingresult.h"

#include <QMutex>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include <windows.h>
#include <winnetwk.h>

// Windows' own network provider: the multiple-provider router connects shares (with a
// drive or without), keeps the session's credentials and serves UNC paths to every
// program. This process only remembers which deviceless connections it made, so that a
// log-off can cancel exactly those.
namespace platform {

namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

// "\\server\share" -> "server", lower case; empty for anything else.
QString ServerOf(const QString &remote)
{
    if (!remote.startsWith(QLatin1String("\\\\")))
        return QString();
    const qsizetype end = remote.indexOf(QLatin1Char('\\'), 2);
    return (end < 0 ? remote.mid(2) : remote.mid(2, end - 2)).toLower();
}

bool IsShareName(const QString &remote)
{
    const QStringList parts = remote.mid(2).split(QLatin1Char('\\'));
    return remote.startsWith(QLatin1String("\\\\")) && parts.size() == 2 && !parts[0].isEmpty() && !parts[1].isEmpty();
}

QMutex g_mutex;
QStringList g_deviceless; // remote names, as connected

void Remember(const QString &remote)
{
    QMutexLocker lock(&g_mutex);
    if (!g_deviceless.contains(remote, Qt::CaseInsensitive))
        g_deviceless.append(remote);
}

void Forget(const QString &remote)
{
    QMutexLocker lock(&g_mutex);
    g_deviceless.removeIf([&](const QString &r) { return r.compare(remote, Qt::CaseInsensitive) == 0; });
}

// The router's call may take as long as the redirector's own time-outs; it runs on a
// thread of its own, so the window keeps drawing, and an abandoned call is undone.
quint32 Connect(const QString &localName, const QString &remoteName, const QString &user, std::wstring secret,
                bool haveCredentials)
{
    struct State {
        PendingResult pending;
        DWORD rc = NET_ERROR_SEM_TIMEOUT;
    };
    auto state = std::make_shared<State>();
    std::wstring local = localName.toStdWString();
    std::wstring remote = remoteName.toStdWString();
    std::wstring account = user.toStdWString();
    std::thread([state, local, remote, account, secret = std::move(secret), haveCredentials]() mutable {
        NETRESOURCEW resource {};
        resource.dwType = RESOURCETYPE_DISK;
        resource.lpLocalName = local.empty() ? nullptr : local.data();
        resource.lpRemoteName = remote.data();
        const DWORD rc = WNetAddConnection2W(&resource, haveCredentials ? secret.c_str() : nullptr,
                                             haveCredentials && !account.empty() ? account.c_str() : nullptr, 0);
        WipeBytes(secret.data(), secret.size() * sizeof(wchar_t));
        if (!state->pending.finish([&] { state->rc = rc; }) && rc == NO_ERROR)
            WNetCancelConnection2W(local.empty() ? remote.c_str() : local.c_str(), 0, TRUE);
    }).detach();
    WipeBytes(secret.data(), secret.size() * sizeof(wchar_t));
    if (!state->pending.wait(NetTimeout()))
        return NET_ERROR_SEM_TIMEOUT;
    if (state->rc == NO_ERROR && localName.isEmpty())
        Remember(remoteName);
    return quint32(state->rc);
}

// The local name of a drive ("h:" -> "H:"); empty when the name is no drive.
QString DriveName(const QString &name)
{
    if (name.size() != 2 || name[1] != QLatin1Char(':') || !name[0].isLetter())
        return QString();
    return name.toUpper();
}

} // namespace

quint32 AddConnection(const QString &localName, const QString &remoteName, const QString &user,
                      const QString &password)
{
    std::wstring secret = password.toStdWString();
    return Connect(localName, remoteName, user, std::move(secret), true);
}

quint32 AddConnectionForSession(const QString &localName, const QString &remoteName)
{
    if (!IsShareName(remoteName))
        return NET_ERROR_BAD_NET_NAME;
    {
        QMutexLocker lock(&g_mutex);
        const QString server = ServerOf(remoteName);
        if (std::none_of(g_deviceless.begin(), g_deviceless.end(), [&](const QString &r) { return ServerOf(r) == server; }))
            return NET_ERROR_NO_SUCH_LOGON_SESSION;
    }
    // Without credentials the router uses those of the session it holds for the server.
    return Connect(localName, remoteName, QString(), std::wstring(), false);
}

quint32 CancelConnection(const QString &name, bool force)
{
    const QString drive = DriveName(name);
    const DWORD rc = WNetCancelConnection2W(W(drive.isEmpty() ? name : drive), 0, force ? TRUE : FALSE);
    if (drive.isEmpty() && (rc == NO_ERROR || rc == ERROR_NOT_CONNECTED))
        Forget(name);
    return quint32(rc);
}

void CancelDevicelessConnections()
{
    QStringList names;
    {
        QMutexLocker lock(&g_mutex);
        names = g_deviceless;
    }
    for (const QString &name : names)
        CancelConnection(name, true);
}

bool IsRemoteDrive(const QString &drive)
{
    const QString name = DriveName(drive);
    return !name.isEmpty() && GetDriveTypeW(W(name + QLatin1Char('\\'))) == DRIVE_REMOTE;
}

void WithdrawStaleDrives() {}

QList<NetConnection> ListConnections()
{
    QList<NetConnection> drives, deviceless;
    HANDLE e = nullptr;
    if (WNetOpenEnumW(RESOURCE_CONNECTED, RESOURCETYPE_DISK, 0, nullptr, &e) == NO_ERROR) {
        std::vector<char> buffer(16384);
        for (;;) {
            DWORD count = DWORD(-1);
            DWORD size = DWORD(buffer.size());
            const DWORD rc = WNetEnumResourceW(e, &count, buffer.data(), &size);
            if (rc == ERROR_MORE_DATA && size > buffer.size()) {
                buffer.resize(size);
                continue;
            }
            if (rc != NO_ERROR)
                break;
            const auto *r = reinterpret_cast<const NETRESOURCEW *>(buffer.data());
            for (DWORD i = 0; i < count; ++i) {
                const QString local = r[i].lpLocalName ? QString::fromWCharArray(r[i].lpLocalName) : QString();
                const QString remote = r[i].lpRemoteName ? QString::fromWCharArray(r[i].lpRemoteName) : QString();
                (local.isEmpty() ? deviceless : drives).append({local, remote});
            }
        }
        WNetCloseEnum(e);
    }
    return drives + deviceless;
}

QString NetErrorText(quint32 code)
{
    QString text = SystemErrorText(int(code));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

bool NetFileExists(const QString &path)
{
    const DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool NetDirectoryExists(const QString &path)
{
    const DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool NetDeleteFile(const QString &path)
{
    return DeleteFileW(W(path)) != 0;
}

namespace {

// A file read through the redirector, with Windows' error codes kept.
class HandleReader final : public QIODevice {
public:
    explicit HandleReader(HANDLE h) : m_handle(h) { open(QIODevice::ReadOnly); }
    ~HandleReader() override
    {
        QIODevice::close();
        CloseHandle(m_handle);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        DWORD got = 0;
        const DWORD want = DWORD(qMin<qint64>(maxSize, 1 << 20));
        if (!ReadFile(m_handle, data, want, &got, nullptr)) {
            setErrorString(SystemErrorText(int(GetLastError())));
            return -1;
        }
        return qint64(got);
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    HANDLE m_handle;
};

} // namespace

std::unique_ptr<QIODevice> NetOpenReadStream(const QString &path)
{
    const HANDLE h = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        throw EInOutError(int(err), InOutErrorText(int(err)));
    }
    return std::make_unique<HandleReader>(h);
}

int NetTimeout()
{
    return DefaultNetTimeoutMs;
}

} // namespace platform
