#include "config/inifile.h"

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/privateprofile.h"
#include "platform/programname.h"
#include "utility/utility.h"

#include <QDir>

TProfileSettings ProfileSettings;
TAppSettings AppSettings;

const QString ProfileFolderName = QStringLiteral("config");
const QString AppIniFileName = QStringLiteral("tavrologin.ini");

namespace {

const QString Section = QStringLiteral("TavroLogin");
const QString DataFolderName = QStringLiteral("Tavro Login 2");
const QString StartProfileName = QStringLiteral("Tavro-Net Default.ini");
const QString DefaultServerName = QStringLiteral("TAVRONET");
// A reserved domain: the update settings are stored only, nothing ever fetches from it.
const QString DefaultUpdateLocation = QStringLiteral("https://update.tavro-net.example/tavrologin/");

// Keys in the order they are written, which is the order of a file this store creates.
struct ProfileKey {
    const char *key;
    QString TProfileSettings::*field;
    const char *readDefault;
};
const ProfileKey ProfileKeys[] = {
    {"Server", &TProfileSettings::ProfileServer, ""},
    {"Logon Script", &TProfileSettings::ProfileLogonScript, ""},
    {"Remote Server", &TProfileSettings::ProfileRemoteServer, ""},
    {"Wallpaper", &TProfileSettings::ProfileWallpaper, ""},
    {"Auto Logoff Time", &TProfileSettings::ProfileAutoLogoffTime, "0"},
    {"Enable Remote Message", &TProfileSettings::ProfileEnableRemoteMessage, "0"},
    {"Remote Message", &TProfileSettings::ProfileRemoteMessage, ""},
    {"Net Logon Share", &TProfileSettings::ProfileNetLogonShare, ""},
};

struct AppKey {
    const char *key;
    QString TAppSettings::*field;
};
const AppKey AppKeys[] = {
    {"Version", &TAppSettings::AppVersion},
    {"Default Profile", &TAppSettings::AppDefaultProfile},
    {"Update Location", &TAppSettings::AppUpdateLocation},
    {"Auto Update", &TAppSettings::AppAutoUpdate},
};

// Values go through the one-line encoding, so a line break in a value (a multi-line
// remote message) never splits the file; plain values are stored as they are.
void WriteValue(const char *key, const QString &value, const QString &path)
{
    if (!platform::WritePrivateProfileString(Section, QString::fromLatin1(key),
                                             platform::EncodeProfileValue(value), path))
        throw EIniFileException(QStringLiteral("Unable to write to %1").arg(path));
}

QString ReadValue(const char *key, const char *readDefault, const QString &path)
{
    return platform::DecodeProfileValue(platform::GetPrivateProfileString(
        Section, QString::fromLatin1(key), QString::fromLatin1(readDefault), path));
}

// An empty name would address the profile folder itself and fail every start; it means
// the start-up profile.
QString ProfileFileName(const QString &name)
{
    return name.isEmpty() ? StartProfileName : name;
}

// A profile name from a file or a list is a file name in the profile folder, never a path:
// one with a separator, a drive colon, a NUL or nothing but dots names no file there and
// is treated as the missing file it is (its creation then fails).
bool AddressesProfileFolderOnly(const QString &name)
{
    bool onlyDots = true;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.isNull() ||
            c == platform::PathDelim)
            return false;
        if (c != QLatin1Char('.') && c != QLatin1Char(' '))
            onlyDots = false;
    }
    return !onlyDots;
}

} // namespace

QString ProfileFilePath(const QString &fileName)
{
    const QString folder = GetProfileFolder();
    if (platform::FileExists(folder + fileName) || !AddressesProfileFolderOnly(fileName))
        return folder + fileName;
    // The lists find "Lab.INI" for "*.ini" and show it as "Lab", and Windows opens it as
    // "Lab.ini": taken as missing, it would be created anew as a copy of another profile.
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (name.compare(fileName, Qt::CaseInsensitive) == 0 && platform::FileExists(folder + name))
            return folder + name;
    }
    return folder + fileName;
}

QString GetDataFolder()
{
    return platform::IncludeTrailingPathDelimiter(GetSpecialFolderPath(CSIDL_COMMON_APPDATA))
           + DataFolderName + platform::PathDelim;
}

QString GetProfileFolder()
{
    return GetDataFolder() + ProfileFolderName + platform::PathDelim;
}

void SetProfileDefaults()
{
    ProfileSettings.ProfileServer = DefaultServerName;
    ProfileSettings.ProfileLogonScript = QStringLiteral("LOGON.BAT");
    ProfileSettings.ProfileRemoteServer = QString();
    ProfileSettings.ProfileWallpaper = GetAppFolder() + QStringLiteral("classicbg.bmp");
    ProfileSettings.ProfileAutoLogoffTime = QStringLiteral("0");
    ProfileSettings.ProfileEnableRemoteMessage = QStringLiteral("0");
    ProfileSettings.ProfileRemoteMessage = QString();
    ProfileSettings.ProfileNetLogonShare = QStringLiteral("NETLOGON_V2");
}

void SetAppDefaults()
{
    AppSettings.AppVersion = GetFileVersionString(GetAppFolder() + platform::ProgramFileName);
    AppSettings.AppDefaultProfile = StartProfileName;
    AppSettings.AppUpdateLocation = DefaultUpdateLocation;
    AppSettings.AppAutoUpdate = QStringLiteral("0");
}

void ReadProfile(const QString &fileName)
{
    const QString name = ProfileFileName(fileName);
    // A file created here is created under this very path.
    const QString path = ProfileFilePath(name);
    if (!AddressesProfileFolderOnly(name) || !platform::FileExists(path))
        WriteProfile(name);
    for (const ProfileKey &k : ProfileKeys)
        ProfileSettings.*k.field = ReadValue(k.key, k.readDefault, path);
    platform::FlushPrivateProfile(path);
}

void WriteProfile(const QString &fileName)
{
    const QString folder = GetProfileFolder();
    const QString path = ProfileFilePath(ProfileFileName(fileName));
    if (!AddressesProfileFolderOnly(ProfileFileName(fileName)))
        throw EIniFileException(QStringLiteral("Unable to write to %1").arg(path));
    // Not checked here: if the folder cannot be made, the first write reports it.
    platform::ForceDirectories(folder);
    const bool existed = platform::FileExists(path);
    try {
        for (const ProfileKey &k : ProfileKeys)
            WriteValue(k.key, ProfileSettings.*k.field, path);
    } catch (...) {
        // A profile this save created is not left half-written (a full disk after the
        // first keys): it would be listed at the next start without its logon share.
        if (!existed)
            platform::DeleteFile(path);
        throw;
    }
    platform::FlushPrivateProfile(path);
}

void WriteAppSettings()
{
    const QString folder = GetDataFolder();
    platform::ForceDirectories(folder);
    const QString path = folder + AppIniFileName;
    for (const AppKey &k : AppKeys)
        WriteValue(k.key, AppSettings.*k.field, path);
    platform::FlushPrivateProfile(path);
}

void LoadAppSettings()
{
    const QString path = GetDataFolder() + AppIniFileName;
    if (!platform::FileExists(path))
        WriteAppSettings();
    for (const AppKey &k : AppKeys)
        AppSettings.*k.field = ReadValue(k.key, "", path);
    platform::FlushPrivateProfile(path);
    // A file without a start-up profile falls back to the start value rather than
    // sending every start to the profile folder itself.
    if (AppSettings.AppDefaultProfile.isEmpty())
        AppSettings.AppDefaultProfile = StartProfileName;
}
