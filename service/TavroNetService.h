#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/journal.h"

class TAppExec;

// The network side of one logon session: one server, one set of credentials.
class TTavroNetService {
public:
    TTavroNetService(const QString &ServerName, const QString &NetLogonShare,
                     const QString &Username, const QString &Password);
    ~TTavroNetService();
    TTavroNetService(const TTavroNetService &) = delete;
    TTavroNetService &operator=(const TTavroNetService &) = delete;

    bool ConnectShare(const QString &Drive, const QString &RemotePath);
    // Drops drives E: to Z:; the texts say which could not be dropped and why.
    QStringList DisconnectAllShares();
    bool ConnectAndRunScript(const QString &LogonScript, QString &ErrorMessage);
    void ExecuteLogoffScripts(const QString &LogonShare);

private:
    QString DisconnectDrive(const QString &Name);
    void Log(platform::LogPriority priority, const QString &message) const;

    QString FServerName;
    QString FNetLogonShare;
    QString FUsername;
    QString FPassword;
    std::unique_ptr<TAppExec> FAppExec;
};
