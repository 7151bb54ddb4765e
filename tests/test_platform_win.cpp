// The Windows backend against Windows' own implementation (Wine's when cross-built):
// the registry, file mappings, the private-profile functions, folders and versions.
#include "platform/dirlist.h"
#include "platform/envstore.h"
#include "platform/netprovider.h"
#include "platform/paths.h"
#include "platform/privateprofile.h"
#include "platform/sharedblock.h"
#include "platform/sysinfo.h"
#include "platform/version.h"
#include "utility/utility.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <windows.h>
#undef GetPrivateProfileString
#undef WritePrivateProfileString

namespace {

QString ReadUserEnvironment(const QString &name)
{
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer;
    const LSTATUS rc = RegGetValueW(HKEY_CURRENT_USER, L"Environment", reinterpret_cast<const wchar_t *>(name.utf16()),
                                    RRF_RT_REG_SZ, nullptr, buffer, &size);
    return rc == ERROR_SUCCESS ? QString::fromWCharArray(buffer) : QStringLiteral("<none>");
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

} // namespace

TEST(WindowsEnvironment, UserVariableLandsInTheRegistryExactlyAndGoesAgain)
{
    const QString name = QStringLiteral("TAVRO_TEST_USERNAME");
    for (const QString &value : {QStringLiteral("adm$1x"), QStringLiteral("${SECRET}"), QStringLiteral(" 'q\"=\\ "),
                                 QStringLiteral("Jürgen")}) {
        ASSERT_TRUE(platform::StoreEnvironmentVariable(false, name, value));
        EXPECT_EQ(ReadUserEnvironment(name), value);
    }
    EXPECT_TRUE(platform::EnvironmentValueProblem(QStringLiteral("x")).isEmpty());
    platform::BroadcastEnvironmentChange(name, nullptr); // must come back, also with no window listening
    ASSERT_TRUE(platform::RemoveEnvironmentVariable(false, name));
    EXPECT_EQ(ReadUserEnvironment(name), QStringLiteral("<none>"));
    EXPECT_TRUE(platform::RemoveEnvironmentVariable(false, name)); // gone already is no error

    platform::SetProcessVariable(name, QStringLiteral("v1"));
    EXPECT_EQ(qEnvironmentVariable("TAVRO_TEST_USERNAME"), QStringLiteral("v1"));
    platform::UnsetProcessVariable(name);
    EXPECT_FALSE(qEnvironmentVariableIsSet("TAVRO_TEST_USERNAME"));
}

TEST(WindowsSharedBlock, CopiesShareOneBlockThatStartsAfreshWhenAllLetGo)
{
    const QString name = QStringLiteral("C:\\Program Files\\Tavro Login\\tavrologin.exe test");
    platform::SharedBlock first(name), second(name);
    bool existed = true;
    first.Open([&](platform::SharedBlock::View *v, bool e) {
        ASSERT_NE(v, nullptr);
        existed = e;
        EXPECT_EQ(v->Handle, 0u);
        EXPECT_EQ(v->Count, 0u);
        v->Handle = 1234;
        v->Count = 1;
    });
    EXPECT_FALSE(existed);
    second.Open([&](platform::SharedBlock::View *v, bool e) {
        existed = e;
        EXPECT_EQ(v->Handle, 1234u);
        ++v->Count;
    });
    EXPECT_TRUE(existed);
    platform::SharedBlock::View seen {};
    ASSERT_TRUE(platform::SharedBlock::Peek(name, seen));
    EXPECT_EQ(seen.Count, 2u);
    second.Close();
    first.Update([](platform::SharedBlock::View *v) { --v->Count; });
    first.Close();
    EXPECT_FALSE(platform::SharedBlock::Peek(name, seen));

    platform::SharedBlock again(name);
    again.Open([&](platform::SharedBlock::View *v, bool e) {
        existed = e;
        EXPECT_EQ(v->Count, 0u);
    });
    EXPECT_FALSE(existed);
}

TEST(WindowsPrivateProfile, WindowsRulesWithWholeFileWrites)
{
    QTemporaryDir dir;
    const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("profile.ini")));
    WriteAll(path, "; admin's note\r\n[Server]\r\n  Name  =  \"SRV\"  \r\nOther=1\r\n[Extra]\r\nKeep=me\r\n");
    EXPECT_EQ(platform::GetPrivateProfileString(QStringLiteral("server"), QStringLiteral("NAME"), QStringLiteral("d"), path),
              QStringLiteral("SRV"));
    EXPECT_EQ(platform::GetPrivateProfileString(QStringLiteral("Server"), QStringLiteral("Missing"), QStringLiteral("d"), path),
              QStringLiteral("d"));

    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("Server"), QStringLiteral("name"), QStringLiteral("NEW"), path));
    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("Server"), QStringLiteral("Added"), QStringLiteral("2"), path));
    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("Fresh"), QStringLiteral("Key"), QStringLiteral("3"), path));
    const QByteArray text = ReadAll(path);
    EXPECT_TRUE(text.startsWith("; admin's note\r\n[Server]\r\n")) << text.constData();
    EXPECT_TRUE(text.contains("Keep=me")) << text.constData();
    EXPECT_LT(text.indexOf("Added=2"), text.indexOf("[Extra]")) << text.constData();
    EXPECT_GT(text.indexOf("[Fresh]"), text.indexOf("Keep=me")) << text.constData();
    EXPECT_EQ(platform::GetPrivateProfileString(QStringLiteral("Server"), QStringLiteral("Name"), QString(), path), QStringLiteral("NEW"));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".tavro-tmp")));

    // A raw line break is never written; a value is read back at most 2047 characters long.
    EXPECT_FALSE(platform::WritePrivateProfileString(QStringLiteral("Server"), QStringLiteral("Bad"), QStringLiteral("a\r\nb"), path));
    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("Server"), QStringLiteral("Long"), QString(3000, u'x'), path));
    EXPECT_EQ(platform::GetPrivateProfileString(QStringLiteral("Server"), QStringLiteral("Long"), QString(), path).size(),
              platform::MaxProfileValueLength);

    // A new file is ANSI text as Windows makes it; a value an ANSI file cannot hold goes
    // in the escaped one-line form rather than as '?', and a name it cannot hold is refused.
    const QString fresh = QDir::toNativeSeparators(dir.filePath(QStringLiteral("fresh.ini")));
    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("Zoë"), fresh));
    EXPECT_EQ(ReadAll(fresh), QByteArray("[S]\r\nK=Zo\xEB\r\n"));
    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("Ωmega"), fresh));
    EXPECT_EQ(ReadAll(fresh), QByteArray("[S]\r\nK=\\:\\u03a9mega\r\n"));
    EXPECT_EQ(platform::DecodeProfileValue(platform::GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QString(), fresh)),
              QStringLiteral("Ωmega"));
    EXPECT_FALSE(platform::WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("Ωk"), QStringLiteral("1"), fresh));
    const QString wide = QDir::toNativeSeparators(dir.filePath(QStringLiteral("wide.ini")));
    WriteAll(wide, QByteArray("\xFF\xFE[\0S\0]\0\r\0\n\0", 12));
    ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("Ωmega"), wide));
    EXPECT_EQ(platform::GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QString(), wide), QStringLiteral("Ωmega"));
}

TEST(WindowsFolders, ListingSpecialFoldersAndVersions)
{
    QTemporaryDir dir;
    for (const char *name : {"zeta.txt", "Alpha.TXT", "bravo.ini", "charlie.txt"})
        WriteAll(dir.filePath(QString::fromLatin1(name)), "x");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Sub")));
    platform::DirectoryLister lister(QDir::toNativeSeparators(dir.path()));
    ASSERT_TRUE(lister.IsOpen());
    lister.SetMask(QStringLiteral("*.txt"));
    lister.SetCollectSubfolders(true);
    QStringList names;
    TSearchRec rec;
    while (lister.Next(rec))
        names.append(rec.Name);
    EXPECT_EQ(names, (QStringList {QStringLiteral("Alpha.TXT"), QStringLiteral("charlie.txt"), QStringLiteral("zeta.txt")}));
    ASSERT_EQ(lister.Subfolders().size(), 1u);
    EXPECT_EQ(lister.Subfolders()[0].Name, QStringLiteral("Sub"));
    EXPECT_TRUE(lister.Id().has_value());

    EXPECT_TRUE(platform::GetOSFacts().windows);
    EXPECT_GE(platform::GetOSFacts().major, platform::MinimumSupportedMajor());
    EXPECT_FALSE(platform::ComputerName().isEmpty());
    EXPECT_TRUE(QDir(platform::SpecialFolderPath(28)).exists()) << qPrintable(platform::SpecialFolderPath(28));
    EXPECT_TRUE(platform::SpecialFolderPath(12345).isEmpty());

    // Every program of the build carries the project's version resource.
    const platform::FileVersion own = platform::ReadFileVersion(platform::ExecutablePath());
    const platform::FileVersion running = platform::RunningVersion();
    EXPECT_EQ(QStringLiteral("%1.%2.%3.%4").arg(own.major).arg(own.minor).arg(own.release).arg(own.build),
              QStringLiteral(TAVRO_PROJECT_VERSION));
    EXPECT_EQ(own.major, running.major);
    EXPECT_EQ(own.build, running.build);
    EXPECT_EQ(platform::ReadFileVersion(dir.filePath(QStringLiteral("zeta.txt"))).major, 0);
}

// What the diagnostics box and the start-up check read of the system: a product the table
// knows, named as Windows names it, and an adapter report from the system's own query.
TEST(WindowsSystemFacts, CaptionProductAndAdapterReport)
{
    const TOSVersionInfo os = GetOSVersionInfo();
    EXPECT_NE(os.OSProduct, osUnknown) << qPrintable(os.Version);
    EXPECT_TRUE(os.Caption.startsWith(QLatin1String("Microsoft Windows "))) << qPrintable(os.Caption);
    EXPECT_FALSE(os.Caption.contains(QLatin1String("(NT"))) << qPrintable(os.Caption);
    EXPECT_EQ(os.Version, QStringLiteral("%1.%2.%3").arg(os.OSMajorNumber).arg(os.OSMinorNumber).arg(os.OSBuildNumber));
    EXPECT_EQ(os.OSArchitecture, QStringLiteral("64-bit"));
    EXPECT_FALSE(IsRemoteSession());
    EXPECT_FALSE(GetLocalComputerName().isEmpty());

    QStringList lines;
    GetNetworkAdaptersReport(lines);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_FALSE(lines.first().startsWith(QLatin1String("GetAdaptersInfo"))) << qPrintable(lines.join(u'|'));
}

TEST(WindowsNetwork, ProviderCodesAndDrives)
{
    // Wine's provider has no network; Windows' answers with its own code for the same call.
    const quint32 rc = platform::AddConnection(QString(), QStringLiteral("\\\\tavro-no-such-host\\share"),
                                               QStringLiteral("user"), QStringLiteral("secret"));
    EXPECT_NE(rc, platform::NET_NO_ERROR);
    EXPECT_EQ(platform::AddConnectionForSession(QStringLiteral("H:"), QStringLiteral("\\\\tavro-no-such-host\\share")),
              platform::NET_ERROR_NO_SUCH_LOGON_SESSION);
    EXPECT_EQ(platform::AddConnectionForSession(QStringLiteral("H:"), QStringLiteral("not-a-share")),
              platform::NET_ERROR_BAD_NET_NAME);
    EXPECT_FALSE(platform::IsRemoteDrive(QStringLiteral("C:")));
    EXPECT_FALSE(platform::IsRemoteDrive(QStringLiteral("no")));
    const QString text = platform::NetErrorText(platform::NET_ERROR_LOGON_FAILURE);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_TRUE(text[0].isLower()) << qPrintable(text);
    EXPECT_TRUE(text.endsWith(QLatin1Char('.'))) << qPrintable(text);
    platform::CancelDevicelessConnections();
}
