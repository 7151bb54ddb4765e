#pragma once

#include <QString>

struct TProfileSettings {
    QString ProfileServer;
    QString ProfileLogonScript;
    QString ProfileRemoteServer;
    QString ProfileWallpaper;
    QString ProfileAutoLogoffTime;
    QString ProfileEnableRemoteMessage;
    QString ProfileRemoteMessage;
    QString ProfileNetLogonShare;
};

struct TAppSettings {
    QString AppVersion;
    QString AppDefaultProfile;
    QString AppUpdateLocation;
    QString AppAutoUpdate;
};

// The process-wide records, touched on the window thread only.
extern TProfileSettings ProfileSettings;
extern TAppSettings AppSettings;

extern const QString ProfileFolderName; // "config"
extern const QString AppIniFileName;    // "tavrologin.ini"

QString GetDataFolder();
QString GetProfileFolder();
// The path of the profile file of that name; a file whose name differs only in letter
// case counts as it when there is none of exactly that name.
QString ProfileFilePath(const QString &fileName);
void SetProfileDefaults();
void SetAppDefaults();
void ReadProfile(const QString &fileName);
void WriteProfile(const QString &fileName);
void WriteAppSettings();
void LoadAppSettings();
