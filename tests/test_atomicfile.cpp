#include "config/inifile.h"
#include "platform/atomicfile.h"
#include "platform/errors.h"
#include "platform/privateprofile.h"
#include "tests/fixtures/TempEnv.h"
#include "tests/fixtures/TestAccounts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Group = QStringLiteral("hdeditors");

struct Meta {
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool operator==(const Meta &) const = default;
};

void PrintTo(const Meta &m, std::ostream *os)
{
    *os << "owner " << m.owner << " group " << m.group << " mode 0" << std::oct << m.mode << std::dec;
}

Meta MetaOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {uid_t(-1), gid_t(-1), 0};
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

void Make(const QString &path, const QByteArray &bytes, uid_t owner, gid_t group, mode_t mode)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    const QByteArray p = QFile::encodeName(path);
    ASSERT_EQ(::chown(p.constData(), owner, group), 0);
    ASSERT_EQ(::chmod(p.constData(), mode), 0);
}

void MakeFolder(const QString &path, gid_t group, mode_t mode)
{
    ASSERT_TRUE(QDir().mkpath(path));
    const QByteArray p = QFile::encodeName(path);
    ASSERT_EQ(::chown(p.constData(), 0, group), 0);
    ASSERT_EQ(::chmod(p.constData(), mode), 0);
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct ScopedUmask {
    explicit ScopedUmask(mode_t m) : old(::umask(m)) {}
    ~ScopedUmask() { ::umask(old); }
    mode_t old;
};

// Runs F in a child that has become ACCOUNT; true when F returned true there.
template <typename F>
bool AsAccount(const TestAccount &account, F f)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(20);
        if (!BecomeAccount(account))
            ::_exit(3);
        bool ok = false;
        try {
            ok = f();
        } catch (...) {
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        editor = EnsureTestAccount(QStringLiteral("hdeditor"), Group);
        ASSERT_TRUE(editor.valid) << qPrintable(editor.error);
        owner = EnsureTestAccount(QStringLiteral("hdowner"), Group);
        ASSERT_TRUE(owner.valid) << qPrintable(owner.error);
        ASSERT_TRUE(tmp.isValid());
        ::chmod(QFile::encodeName(tmp.path()).constData(), 0755); // the other accounts pass through
    }
    // Nothing but the named files: no temporary file is left behind.
    void ExpectOnly(const QString &folder, const QStringList &names)
    {
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), names);
    }

    TestAccount editor, owner;
    QTemporaryDir tmp;
};

// Runs work with files limited to limit bytes, so writes fail part-way as on a full disk.
template <class Work>
void WithFileSizeLimit(rlim_t limit, Work work)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    work();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}

} // namespace

TEST_F(AtomicFile, RewritesKeepModeGroupAndOwner)
{
    const ScopedUmask umask(077);
    const QString shared = tmp.filePath("shared");
    MakeFolder(shared, editor.shared, 02775);
    const QString a = shared + "/a.ini", b = shared + "/b.ini";
    Make(a, "old", owner.uid, editor.shared, 0664);
    Make(b, "old", owner.uid, owner.gid, 0640);
    // Root rewrites: owner, group and mode all stay.
    ASSERT_TRUE(platform::ReplaceFileContents(a, "new a"));
    ASSERT_TRUE(platform::ReplaceFileContents(b, "new b"));
    EXPECT_EQ(MetaOf(a), (Meta{owner.uid, editor.shared, 0664}));
    EXPECT_EQ(MetaOf(b), (Meta{owner.uid, owner.gid, 0640}));
    EXPECT_EQ(ReadAll(a), "new a");

    // Another member of the group edits the first: the group may still edit it afterwards.
    EXPECT_TRUE(AsAccount(editor, [&] { return platform::ReplaceFileContents(a, "by editor"); }));
    EXPECT_EQ(ReadAll(a), "by editor");
    const Meta m = MetaOf(a);
    EXPECT_EQ(m.group, editor.shared);
    EXPECT_EQ(m.mode, 0664u);

    // A file the group may only read stays as it is, though the folder is the group's.
    const QString c = shared + "/c.ini";
    Make(c, "read only", owner.uid, editor.shared, 0644);
    EXPECT_FALSE(AsAccount(editor, [&] { return platform::ReplaceFileContents(c, "x"); }));
    EXPECT_EQ(ReadAll(c), "read only");
    EXPECT_FALSE(platform::ReplaceFileContents(shared, "a folder is no file"));
    ExpectOnly(shared, {"a.ini", "b.ini", "c.ini"});
}

TEST_F(AtomicFile, NewFilesInASharedFolderAreTheGroupsWhateverTheUmask)
{
    for (const mode_t mask : {mode_t(077), mode_t(0), mode_t(027)}) {
        SCOPED_TRACE(mask);
        const ScopedUmask umask(mask);
        const QString root = tmp.filePath(QString("u%1").arg(mask));
        MakeFolder(root, 0, 0755);
        MakeFolder(root + "/setgid", editor.shared, 02775);
        MakeFolder(root + "/groupwritable", editor.shared, 0775);
        MakeFolder(root + "/plain", editor.shared, 0755);
        for (const char *sub : {"/setgid", "/groupwritable"}) {
            ASSERT_TRUE(platform::ReplaceFileContents(root + sub + "/new.ini", "x"));
            EXPECT_EQ(MetaOf(root + sub + "/new.ini"), (Meta{0, editor.shared, 0664})) << sub;
        }
        ASSERT_TRUE(platform::ReplaceFileContents(root + "/plain/new.ini", "x"));
        EXPECT_EQ(MetaOf(root + "/plain/new.ini"), (Meta{0, 0, 0644}));
        // A member of the group, with its own umask, creates one too.
        EXPECT_TRUE(AsAccount(editor, [&] {
            ::umask(077);
            return platform::ReplaceFileContents(root + "/setgid/theirs.ini", "y");
        }));
        EXPECT_EQ(MetaOf(root + "/setgid/theirs.ini"), (Meta{editor.uid, editor.shared, 0664}));
    }
}

TEST_F(AtomicFile, ProfileAndApplicationFilesStayEditableByTheAdministratorsGroup)
{
    const ScopedUmask umask(077);
    TempHome home;
    const QString data = home.commonAppData() + "/Tavro Login 2";
    // The package's data folder: the administrators' group writes, new files keep its group.
    ::chmod(QFile::encodeName(home.path()).constData(), 0755);
    ::chmod(QFile::encodeName(home.commonAppData()).constData(), 0755);
    MakeFolder(data, editor.shared, 02775);
    MakeFolder(data + "/config", editor.shared, 02775);
    Make(data + "/config/Office.ini", "[TavroLogin]\r\nServer=OLD\r\n", owner.uid, editor.shared, 0664);

    SetProfileDefaults();
    SetAppDefaults();
    ProfileSettings.ProfileServer = "NEW";
    WriteProfile("Office.ini");
    WriteAppSettings();
    ReadProfile("Fresh.ini");
    EXPECT_EQ(MetaOf(data + "/config/Office.ini"), (Meta{owner.uid, editor.shared, 0664}));
    EXPECT_EQ(MetaOf(data + "/tavrologin.ini"), (Meta{0, editor.shared, 0664}));
    EXPECT_EQ(MetaOf(data + "/config/Fresh.ini"), (Meta{0, editor.shared, 0664}));

    // The other administrator saves both files after root did.
    EXPECT_TRUE(AsAccount(editor, [] {
        ProfileSettings.ProfileServer = "EDITOR";
        WriteProfile("Office.ini");
        AppSettings.AppAutoUpdate = "1";
        WriteAppSettings();
        return true;
    }));
    ReadProfile("Office.ini");
    EXPECT_EQ(ProfileSettings.ProfileServer, "EDITOR");
    for (const QString &file : {data + "/config/Office.ini", data + "/tavrologin.ini"}) {
        const Meta m = MetaOf(file);
        EXPECT_EQ(m.group, editor.shared) << qPrintable(file);
        EXPECT_EQ(m.mode, 0664u) << qPrintable(file);
    }
    ExpectOnly(data + "/config", {"Fresh.ini", "Office.ini"});
}

TEST(AtomicProfileWrite, FailedWriteLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("test.ini"));
    const QByteArray original = "[S]\r\nk=old\r\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(original);
    }

    bool written = true;
    WithFileSizeLimit(64, [&] { written = platform::WritePrivateProfileString("S", "k", QString(4000, u'n'), path); });

    EXPECT_FALSE(written);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), original);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"test.ini"})
        << "no temporary file left behind";
}

TEST(AtomicProfileWrite, NamesOfTheLongestLengthCanBeWrittenAndRewritten)
{
    // 255 bytes: the temporary file beside it must not need a longer name.
    QTemporaryDir dir;
    const QString name = QString(125, QChar(0xE9)) + QStringLiteral("x.ini");
    ASSERT_EQ(QFile::encodeName(name).size(), 255);
    const QString path = dir.filePath(name);
    EXPECT_TRUE(platform::ReplaceFileContents(path, "first"));
    EXPECT_TRUE(platform::ReplaceFileContents(path, "second"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "second");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
}

TEST(AtomicProfileWrite, ASaveThatFailsPartWayLeavesNoHalfWrittenNewProfile)
{
    TempHome home;
    SetProfileDefaults();
    const QString folder = GetProfileFolder();
    const QByteArray old = "[TavroLogin]\r\nServer=OLD\r\nNet Logon Share=NETLOGON_V2\r\n";
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        QFile f(folder + QStringLiteral("Old.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    // The limit fails the writes past the first key of a new file, as a disk that fills
    // up part-way through a save does.
    auto save = [](const char *name) {
        try {
            WriteProfile(QString::fromLatin1(name));
        } catch (const EIniFileException &e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    };
    QString newError, oldError;
    WithFileSizeLimit(40, [&] {
        newError = save("New.ini");
        oldError = save("Old.ini");
    });

    EXPECT_EQ(newError, QStringLiteral("Unable to write to ") + folder + QStringLiteral("New.ini"));
    EXPECT_EQ(oldError, QStringLiteral("Unable to write to ") + folder + QStringLiteral("Old.ini"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Old.ini")});
    QFile f(folder + QStringLiteral("Old.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old) << "an existing profile is never removed";
}
