#include "config/inifile.h"

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/programname.h"
#include "utility/utility.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Paths as the store builds them: with the platform's own delimiter.
QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// The machine-wide data folder points at a fresh temp folder for each test.
class IniFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        qputenv("TAVROLOGIN_COMMON_APPDATA", QFile::encodeName(tmp.path()));
        SetProfileDefaults();
        SetAppDefaults();
    }
    void TearDown() override { qunsetenv("TAVROLOGIN_COMMON_APPDATA"); }

    QString dataFolder() const { return native(tmp.path() + "/Tavro Login 2/"); }
    QString profilePath(const QString &name) const { return dataFolder() + native("config/") + name; }

    // Runs `f` and returns the message of the EIniFileException it raised.
    template <typename F>
    static QString writeError(F f)
    {
        try {
            f();
        } catch (const EIniFileException &e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    }

    QTemporaryDir tmp;
};

TEST_F(IniFile, Folders)
{
    const struct {
        QString common, data;
    } cases[] = {
        {"/srv/common", "/srv/common/Tavro Login 2/"},
        {"/srv/common/", "/srv/common/Tavro Login 2/"},
        {"/", "/Tavro Login 2/"},
    };
    for (const auto &c : cases) {
        qputenv("TAVROLOGIN_COMMON_APPDATA", QFile::encodeName(c.common));
        EXPECT_EQ(GetDataFolder(), native(c.data));
        EXPECT_EQ(GetProfileFolder(), native(c.data + "config/"));
    }
}

TEST_F(IniFile, FirstStartCreatesBothFiles)
{
    ASSERT_FALSE(QFile::exists(GetAppFolder() + platform::ProgramFileName));
    EXPECT_EQ(AppSettings.AppVersion, "0.0.0") << "a missing program file gives zeros, start goes on";

    LoadAppSettings();
    ReadProfile(AppSettings.AppDefaultProfile);

    EXPECT_EQ(readBytes(dataFolder() + "tavrologin.ini"),
              "[TavroLogin]\r\n"
              "Version=0.0.0\r\n"
              "Default Profile=Tavro-Net Default.ini\r\n"
              "Update Location=https://update.tavro-net.example/tavrologin/\r\n"
              "Auto Update=0\r\n");
    EXPECT_EQ(readBytes(profilePath("Tavro-Net Default.ini")),
              "[TavroLogin]\r\n"
              "Server=TAVRONET\r\n"
              "Logon Script=LOGON.BAT\r\n"
              "Remote Server=\r\n"
              "Wallpaper=" + (GetAppFolder() + "classicbg.bmp").toUtf8() + "\r\n"
              "Auto Logoff Time=0\r\n"
              "Enable Remote Message=0\r\n"
              "Remote Message=\r\n"
              "Net Logon Share=NETLOGON_V2\r\n");
    EXPECT_EQ(AppSettings.AppDefaultProfile, "Tavro-Net Default.ini");
    EXPECT_EQ(ProfileSettings.ProfileServer, "TAVRONET");
}

TEST_F(IniFile, MissingProfileIsACopyOfTheCurrentOne)
{
    ProfileSettings.ProfileServer = "BRAVO";
    ProfileSettings.ProfileAutoLogoffTime = "15";
    ReadProfile("Copy.ini");
    EXPECT_EQ(ProfileSettings.ProfileServer, "BRAVO");
    EXPECT_EQ(ProfileSettings.ProfileAutoLogoffTime, "15");
    EXPECT_EQ(ProfileSettings.ProfileLogonScript, "LOGON.BAT");
    EXPECT_TRUE(readBytes(profilePath("Copy.ini")).startsWith("[TavroLogin]\r\nServer=BRAVO\r\n"));
}

TEST_F(IniFile, MissingKeysReadTheirReadDefaults)
{
    writeBytes(profilePath("Sparse.ini"), "[tavrologin]\nSERVER = \"CHARLIE\" \n[Other]\nWallpaper=x\n");
    ReadProfile("Sparse.ini");
    EXPECT_EQ(ProfileSettings.ProfileServer, "CHARLIE");
    EXPECT_EQ(ProfileSettings.ProfileAutoLogoffTime, "0");
    EXPECT_EQ(ProfileSettings.ProfileEnableRemoteMessage, "0");
    for (const QString *field : {&ProfileSettings.ProfileLogonScript, &ProfileSettings.ProfileRemoteServer,
                                 &ProfileSettings.ProfileWallpaper, &ProfileSettings.ProfileRemoteMessage,
                                 &ProfileSettings.ProfileNetLogonShare})
        EXPECT_EQ(*field, "") << "start values play no part in a read";
}

TEST_F(IniFile, ProfileRoundTripsAndStaysOneLinePerKey)
{
    const TProfileSettings written{
        "DELTA", "LOGON.HTA", "ECHO", "C:\\new\\tavro\\bg.bmp", "30", "1",
        "Welcome!\r\nThis is a remote session.\n\\:odd \\n text\\", QStringLiteral(u"NETLOGON_Ü")};
    ProfileSettings = written;
    WriteProfile("Round.ini");
    SetProfileDefaults();
    ReadProfile("Round.ini");

    const auto fields = [](const TProfileSettings &s) {
        return QStringList{s.ProfileServer, s.ProfileLogonScript, s.ProfileRemoteServer, s.ProfileWallpaper,
                           s.ProfileAutoLogoffTime, s.ProfileEnableRemoteMessage, s.ProfileRemoteMessage,
                           s.ProfileNetLogonShare};
    };
    EXPECT_EQ(fields(ProfileSettings), fields(written));
    const QByteArray file = readBytes(profilePath("Round.ini"));
    EXPECT_EQ(file.count('\n'), 9) << file.toStdString();
    EXPECT_TRUE(file.contains("\r\nWallpaper=C:\\new\\tavro\\bg.bmp\r\n")) << "plain values stored as they are";
}

TEST_F(IniFile, UnknownContentSurvivesWrites)
{
    writeBytes(profilePath("Keep.ini"),
               "\xEF\xBB\xBF; managed by hand\n"
               "[Extra]\nserver=not ours\n"
               "[TAVROLOGIN]\nserver=OLD\nColour=blue\n\n"
               "[More]\r\nx=\xFF\xFE\r\n");
    ProfileSettings.ProfileServer = "NEW";
    WriteProfile("Keep.ini");
    EXPECT_EQ(readBytes(profilePath("Keep.ini")),
              "\xEF\xBB\xBF; managed by hand\n"
              "[Extra]\nserver=not ours\n"
              "[TAVROLOGIN]\nserver=NEW\r\nColour=blue\n"
              "Logon Script=LOGON.BAT\r\n"
              "Remote Server=\r\n"
              "Wallpaper=" + (GetAppFolder() + "classicbg.bmp").toUtf8() + "\r\n"
              "Auto Logoff Time=0\r\n"
              "Enable Remote Message=0\r\n"
              "Remote Message=\r\n"
              "Net Logon Share=NETLOGON_V2\r\n"
              "\n"
              "[More]\r\nx=\xFF\xFE\r\n");

    writeBytes(dataFolder() + "tavrologin.ini", "[TavroLogin]\r\nversion=1.0.0\r\nChannel=beta\r\n");
    LoadAppSettings();
    EXPECT_EQ(AppSettings.AppVersion, "1.0.0") << "the stored version replaces the program's";
    WriteAppSettings();
    EXPECT_TRUE(readBytes(dataFolder() + "tavrologin.ini")
                    .startsWith("[TavroLogin]\r\nversion=1.0.0\r\nChannel=beta\r\nDefault Profile="));
}

TEST_F(IniFile, ProfileFromWindowsKeepsItsCodePage)
{
    // As the Windows client writes it: ANSI text, here with Windows-1252 letters.
    const QByteArray windows = "[TavroLogin]\r\nServer=FILESRV\r\nLogon Script=LOGON.BAT\r\nRemote Server=\r\n"
                               "Wallpaper=C:\\Program Files\\Tavro Login\\fond d'\xE9" "cran.bmp\r\n"
                               "Auto Logoff Time=0\r\nEnable Remote Message=1\r\n"
                               "Remote Message=Acc\xE8s distant \x96 \xE9quipe informatique\r\n"
                               "Net Logon Share=NETLOGON_V2\r\n";
    writeBytes(profilePath("Bureau.ini"), windows);
    ReadProfile("Bureau.ini");
    EXPECT_EQ(ProfileSettings.ProfileRemoteMessage, QStringLiteral(u"Accès distant – équipe informatique"));
    EXPECT_EQ(ProfileSettings.ProfileWallpaper, QStringLiteral(u"C:\\Program Files\\Tavro Login\\fond d'écran.bmp"));

    // Saved again unchanged, as the configuration window does: not a byte differs.
    WriteProfile("Bureau.ini");
    EXPECT_EQ(readBytes(profilePath("Bureau.ini")), windows);
}

TEST_F(IniFile, EmptyDefaultProfileFallsBackToTheStartProfile)
{
    writeBytes(dataFolder() + "tavrologin.ini", "[TavroLogin]\r\nVersion=2.0.0\r\nDefault Profile=  \r\n");
    LoadAppSettings();
    EXPECT_EQ(AppSettings.AppDefaultProfile, "Tavro-Net Default.ini");
    ReadProfile(AppSettings.AppDefaultProfile);
    EXPECT_TRUE(QFile::exists(profilePath("Tavro-Net Default.ini")));

    QFile::remove(profilePath("Tavro-Net Default.ini"));
    EXPECT_NO_THROW(ReadProfile(QString()));
    EXPECT_TRUE(QFile::exists(profilePath("Tavro-Net Default.ini")));
}

// Every file below the temp folder, with its contents.
QMap<QString, QByteArray> Tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, readBytes(path));
    }
    return files;
}

// The lists find profile files whatever the letter case of their names ("*.ini" finds
// "Lab.INI" and shows it as "Lab"), so reading and writing find them the same way.
TEST_F(IniFile, ProfileFilesAreFoundWhateverTheirLetterCase)
{
    writeBytes(profilePath("Lab.INI"), "[TavroLogin]\r\nServer=LABSRV\r\n");
    ProfileSettings.ProfileServer = "CURRENT";
    ReadProfile("Lab.ini");
    EXPECT_EQ(ProfileSettings.ProfileServer, "LABSRV") << "not a new copy of the current profile";
    ProfileSettings.ProfileServer = "LAB2";
    WriteProfile("lab.ini");
    EXPECT_TRUE(readBytes(profilePath("Lab.INI")).startsWith("[TavroLogin]\r\nServer=LAB2\r\n"));
    EXPECT_EQ(QDir(dataFolder() + "config").entryList(QDir::Files), QStringList{"Lab.INI"});
}

TEST_F(IniFile, ProfileNamesFromFilesNeverLeaveTheProfileFolder)
{
    // A profile planted outside the folder, where "../../x.ini" would lead.
    writeBytes(tmp.filePath("x.ini"), "[TavroLogin]\r\nServer=EVIL\r\n");
    writeBytes(dataFolder() + "config/sub/x.ini", "[TavroLogin]\r\nServer=EVIL\r\n");
    writeBytes(dataFolder() + "tavrologin.ini", "[TavroLogin]\r\nDefault Profile=../../x.ini\r\n");
    LoadAppSettings();
    ASSERT_EQ(AppSettings.AppDefaultProfile, "../../x.ini");
    ProfileSettings.ProfileServer = "KEPT";
    const QMap<QString, QByteArray> before = Tree(tmp.path());

    const QStringList names{"../../x.ini", "..\\..\\x.ini", "sub/x.ini", "sub\\x.ini", tmp.filePath("x.ini"),
                            "..", ".", ". .", QString("Default.ini") + QChar(0) + "/../../x.ini", "C:x.ini"};
    for (const QString &name : names) {
        SCOPED_TRACE(qPrintable(name));
        // Missing, so reading it makes it first: that write fails, and nothing is read.
        EXPECT_EQ(writeError([&] { ReadProfile(name); }), "Unable to write to " + profilePath(name));
        EXPECT_EQ(ProfileSettings.ProfileServer, "KEPT");
        EXPECT_EQ(writeError([&] { WriteProfile(name); }), "Unable to write to " + profilePath(name));
        EXPECT_EQ(Tree(tmp.path()), before);
    }
    // Dots inside a name are no path.
    EXPECT_NO_THROW(ReadProfile("v1..2.ini"));
    EXPECT_TRUE(QFile::exists(profilePath("v1..2.ini")));
}

TEST_F(IniFile, UnwritableDataFolderRaisesTheWriteError)
{
    // Root may write anywhere, so use places no one can: below a regular file, and /proc
    // where there is one.
    const QString file = tmp.filePath("plain-file");
    writeBytes(file, "x");
    QStringList commons {file};
    if (QFileInfo(QStringLiteral("/proc/self")).exists())
        commons.append(QStringLiteral("/proc"));
    for (const QString &common : commons) {
        qputenv("TAVROLOGIN_COMMON_APPDATA", QFile::encodeName(common));
        EXPECT_EQ(writeError([] { LoadAppSettings(); }),
                  "Unable to write to " + native(common + "/Tavro Login 2/tavrologin.ini"));
        EXPECT_EQ(writeError([] { ReadProfile("Tavro-Net Default.ini"); }),
                  "Unable to write to " + native(common + "/Tavro Login 2/config/Tavro-Net Default.ini"));
    }
    EXPECT_EQ(readBytes(file), "x");

    // A folder where the profile file should be is no file either.
    qputenv("TAVROLOGIN_COMMON_APPDATA", QFile::encodeName(tmp.path()));
    QDir().mkpath(profilePath("Folder.ini"));
    EXPECT_EQ(writeError([] { ReadProfile("Folder.ini"); }),
              "Unable to write to " + profilePath("Folder.ini"));
}

} // namespace
