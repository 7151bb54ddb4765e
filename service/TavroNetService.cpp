#include "service/TavroNetService.h"

#include "components/Appexec.h"
#include "platform/errors.h"
#include "platform/journal.h"
#include "platform/memoryguard.h"
#include "platform/netprovider.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "utility/utility.h"

namespace {

const QString UserNameVariable = QStringLiteral("TAVROLOGIN_USERNAME");

QString SharePath(const QString &server, const QString &share)
{
    QString path = QStringLiteral("\\\\") + server;
    if (!path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    return path + share;
}

// The local copy's name: the part after the last separator. "/" counts too, because it
// separates folders locally: a name from a profile must not climb out of the temp folder.
QString LocalScriptName(const QString &logonScript)
{
    qsizetype cut = -1;
    for (qsizetype i = logonScript.size() - 1; i >= 0; --i) {
        const QChar c = logonScript[i];
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c == QLatin1Char('/') || c == platform::PathDelim) {
            cut = i;
            break;
        }
    }
    const QString name = logonScript.mid(cut + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QChar(0)))
        return QString();
    return name;
}

// What the provider's answer means, for an administrator reading the journal.
QString ConnectionFailureReason(quint32 code)
{
    switch (code) {
    case platform::NET_ERROR_LOGON_FAILURE:
        return QStringLiteral("wrong user name or password");
    case platform::NET_ERROR_ACCESS_DENIED:
        return QStringLiteral("access denied");
    case platform::NET_ERROR_BAD_NETPATH:
        return QStringLiteral("server not found or not answering");
    case platform::NET_ERROR_SEM_TIMEOUT:
        return QStringLiteral("server did not answer in time");
    case platform::NET_ERROR_BAD_NET_NAME:
        return QStringLiteral("share missing");
    case platform::NET_ERROR_NO_NETWORK:
        return QStringLiteral("no network");
    default:
        return QStringLiteral("network error %1").arg(code);
    }
}

} // namespace

TTavroNetService::TTavroNetService(const QString &ServerName, const QString &NetLogonShare,
                                   const QString &Username, const QString &Password)
    : FServerName(ServerName), FNetLogonShare(NetLogonShare), FUsername(Username), FPassword(Password),
      FAppExec(std::make_unique<TAppExec>(nullptr))
{
}

TTavroNetService::~TTavroNetService()
{
    // This attempt's own copy of the password (one shared with the window is the window's).
    if (FPassword.isDetached())
        platform::WipeBytes(FPassword.data(), size_t(FPassword.size()) * sizeof(QChar));
}

bool TTavroNetService::ConnectShare(const QString &Drive, const QString &RemotePath)
{
    // A connection left by an earlier login must not clash with these credentials.
    platform::CancelConnection(RemotePath, true);
    const quint32 result = platform::AddConnection(Drive, RemotePath, FUsername, FPassword);
    if (result != platform::NET_NO_ERROR)
        Log(platform::LogWarning,
            QStringLiteral("Connecting %1 failed: %2").arg(RemotePath, ConnectionFailureReason(result)));
    return result == platform::NET_NO_ERROR;
}

void TTavroNetService::Log(platform::LogPriority priority, const QString &message) const
{
    platform::LogEvent(priority, message,
                       {{platform::LogFieldServer, FServerName}, {platform::LogFieldUser, FUsername}});
}

QStringList TTavroNetService::DisconnectAllShares()
{
    QStringList failures;
    for (QChar letter : QStringLiteral("EFGHIJKLMNOPQRSTUVWXYZ")) {
        const QString failure = DisconnectDrive(QString(letter) + QLatin1Char(':'));
        if (!failure.isEmpty())
            failures.append(failure);
    }
    return failures;
}

bool TTavroNetService::ConnectAndRunScript(const QString &LogonScript, QString &ErrorMessage)
{
    ErrorMessage.clear();
    const QString share = SharePath(FServerName, FNetLogonShare);
    if (!ConnectShare(QString(), share)) {
        ErrorMessage = QStringLiteral("Failed to connect to network share: ") + share;
        return false;
    }
    // The share stays connected afterwards: programs the script started may hold files on it.

    const QString networkPath = share + QLatin1Char('\\') + LogonScript;
    const QString tempFolder = platform::IncludeTrailingPathDelimiter(
        GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + platform::PathDelim + QStringLiteral("Temp"));
    const QString localName = LocalScriptName(LogonScript);
    const QString localPath = tempFolder + localName;

    platform::ForceDirectories(tempFolder);

    SetPersistentEnvironmentVariable(UserNameVariable, FUsername, false);

    // Opening the script tells whether it is there, without a look first that costs the
    // server requests at every logon; only a refused open needs that look, to tell a
    // missing script from one that cannot be read.
    std::unique_ptr<QIODevice> in;
    QString why;
    try {
        in = OpenCopySource(networkPath, localPath);
    } catch (const EInOutError &e) {
        why = QStringLiteral(": ") + e.message();
        if (e.ErrorCode == 2 || !platform::FileExists(networkPath)) {
            ErrorMessage = QStringLiteral("Logon script does not exist on the network share: ") + networkPath;
            Log(platform::LogWarning, QStringLiteral("Logon script missing: ") + networkPath);
            return false;
        }
    }
    if (localName.isEmpty()) {
        // No usable file name: nothing is written anywhere.
        ErrorMessage = QStringLiteral("Failed to copy the logon script to the local machine!");
        return false;
    }
    if (platform::FileExists(localPath))
        platform::DeleteFile(localPath);
    // A copy that breaks off (the server gone mid-way) is a failed copy like any other:
    // nothing half-copied is ever started.
    bool copied = false;
    if (in) {
        try {
            copied = CopyFileContents(*in, localPath);
        } catch (const EInOutError &e) {
            why = QStringLiteral(": ") + e.message();
        }
        in.reset();
    }
    if (!copied) {
        ErrorMessage = QStringLiteral("Failed to copy the logon script to the local machine!");
        Log(platform::LogWarning,
            QStringLiteral("Copying the logon script %1 to %2 failed").arg(networkPath, localPath) + why);
        return false;
    }

    platform::ProcessHandle handle = 0;
    if (const quint32 error = platform::ShellExecuteFile(localPath, handle); error != 0) {
        ErrorMessage = QStringLiteral("Cannot execute the local logon script!");
        Log(platform::LogWarning,
            QStringLiteral("The logon script %1 failed to start: error %2").arg(localPath).arg(error));
        return false;
    }
    if (handle != 0) {
        platform::WaitForProcessDispatching(handle);
        platform::CloseProcessHandle(handle);
    }
    return true;
}

void TTavroNetService::ExecuteLogoffScripts(const QString &LogonShare)
{
    const QString share = SharePath(FServerName, LogonShare);
    if (!ConnectShare(QString(), share))
        return;

    struct RemoveVariable {
        ~RemoveVariable() { DeletePersistentEnvironmentVariable(UserNameVariable, false); }
    } removeVariable;

    // Each script is waited for; a failure to start one is dropped and the next still runs.
    const auto runIfPresent = [this](const QString &file, const QString &commandLine) {
        if (!platform::FileExists(file))
            return;
        FAppExec->setWait(true);
        FAppExec->setExeName(commandLine);
        try {
            FAppExec->Execute();
        } catch (const std::exception &) {
        }
    };
    // Without a script host of that name on the PATH the launcher fails and the batch
    // file still runs.
    const QString vbs = share + QStringLiteral("\\LOGOFF.VBS");
    runIfPresent(vbs, QStringLiteral("wscript.exe \"") + vbs + QLatin1Char('"'));
    const QString bat = share + QStringLiteral("\\LOGOFF.BAT");
    runIfPresent(bat, bat);
}

QString TTavroNetService::DisconnectDrive(const QString &Name)
{
    if (!platform::IsRemoteDrive(Name)) {
        // A link left by a drive whose mount has gone is withdrawn all the same.
        platform::CancelConnection(Name, true);
        return QString();
    }
    const quint32 code = platform::CancelConnection(Name, true);
    if (code == platform::NET_NO_ERROR || code == platform::NET_ERROR_NOT_CONNECTED) {
        Log(platform::LogNotice, QStringLiteral("Drive %1 dropped").arg(Name));
        return QString();
    }
    return QStringLiteral("Network drive %1 could not be disconnected: %2").arg(Name, platform::NetErrorText(code));
}
