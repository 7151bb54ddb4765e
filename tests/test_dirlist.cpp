#include "platform/dirlist.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Touch(const QString &path, const QByteArray &data = {})
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

QStringList List(const QString &folder, const QString &mask)
{
    platform::DirectoryLister list(folder);
    list.SetMask(mask);
    QStringList names;
    TSearchRec rec;
    while (list.Next(rec))
        if (rec.Name != QLatin1String(".") && rec.Name != QLatin1String(".."))
            names << rec.Name;
    names.sort();
    return names;
}

void SetModified(const QString &path, const QDateTime &local)
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = local.toSecsSinceEpoch();
    times[0].tv_nsec = times[1].tv_nsec = (local.time().msec()) * 1'000'000L;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

TEST(DirectoryLister, WindowsWildcardRules)
{
    QTemporaryDir dir;
    for (const char *name : {"readme", "readme.txt", "README.TXT2", "notes.TXT", "a.b.c", "x", "xy", "noext", "ini.bak"})
        Touch(dir.filePath(QString::fromLatin1(name)));

    const struct {
        const char *mask;
        QStringList expected;
    } cases[] = {
        {"*", {"README.TXT2", "a.b.c", "ini.bak", "noext", "notes.TXT", "readme", "readme.txt", "x", "xy"}},
        {"*.*", {"README.TXT2", "a.b.c", "ini.bak", "noext", "notes.TXT", "readme", "readme.txt", "x", "xy"}},
        {"*.txt", {"notes.TXT", "readme.txt"}},
        {"*.TXT?", {"README.TXT2"}},
        {"readme.*", {"README.TXT2", "readme", "readme.txt"}},
        {"?", {"x"}},
        {"x?", {"xy"}},
        {"a.*.c", {"a.b.c"}},
        {"*ini*", {"ini.bak"}},
        {"nothing*", {}},
        {"", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(List(dir.path(), QString::fromLatin1(c.mask)), c.expected) << "mask " << c.mask;
}

// Letters are upper-cased one by one, as Windows compares names: a sharp s stays one
// letter and is not "SS".
TEST(DirectoryLister, MasksCompareOneLetterAtATime)
{
    QTemporaryDir dir;
    for (const char *name : {"\xC3\x9F", "SS", "stra\xC3\x9F" "e.txt", "STRASSE.TXT", "\xC3\xA9t\xC3\xA9"})
        Touch(dir.filePath(QString::fromUtf8(name)));
    const struct {
        const char *mask;
        QStringList expected;
    } cases[] = {
        {"?", {QStringLiteral(u"\u00DF")}},
        {"ss", {"SS"}},
        {"strasse.*", {"STRASSE.TXT"}},
        {"*\xC3\x9F*", {QStringLiteral(u"stra\u00DFe.txt"), QStringLiteral(u"\u00DF")}},
        {"\xC3\x89T\xC3\x89", {QStringLiteral(u"\u00E9t\u00E9")}},
        {"???", {QStringLiteral(u"\u00E9t\u00E9")}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(List(dir.path(), QString::fromUtf8(c.mask)), c.expected) << "mask " << c.mask;
    EXPECT_TRUE(platform::MatchesMask(QStringLiteral(u"?"), "\xC3\x9F"));
    EXPECT_FALSE(platform::MatchesMask(QStringLiteral(u"SS"), "\xC3\x9F"));
}

TEST(DirectoryLister, AttributesSizesAndTimes)
{
    QTemporaryDir dir;
    Touch(dir.filePath("plain.txt"), QByteArray(123, 'x'));
    Touch(dir.filePath("locked.txt"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("locked.txt")).constData(), 0444), 0);
    QDir(dir.path()).mkdir("sub");
    ASSERT_EQ(::symlink("sub", QFile::encodeName(dir.filePath("link")).constData()), 0);
    ASSERT_EQ(::symlink("missing", QFile::encodeName(dir.filePath("dangling")).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0644), 0);
    const QDateTime when(QDate(2020, 3, 10), QTime(13, 0, 2, 250));
    SetModified(dir.filePath("plain.txt"), when);

    platform::DirectoryLister list(dir.path());
    list.SetMask("*");
    list.SetCollectSubfolders(true);
    QMap<QString, TSearchRec> recs;
    TSearchRec rec;
    while (list.Next(rec))
        recs[rec.Name] = rec;

    using namespace platform;
    EXPECT_EQ(recs["plain.txt"].Attr, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(recs["plain.txt"].Size, 123);
    EXPECT_EQ(recs["locked.txt"].Attr, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(recs["sub"].Attr, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(recs["link"].Attr, FILE_ATTRIBUTE_DIRECTORY); // links are followed
    EXPECT_EQ(recs["pipe"].Attr & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DIRECTORY), 0u);
    EXPECT_TRUE(recs.contains("dangling"));

    // Packed: date in the high word, time (2-second steps) in the low word.
    const quint32 packed = ((40u << 9 | 3u << 5 | 10u) << 16) | (13u << 11 | 0u << 5 | 1u);
    EXPECT_EQ(static_cast<quint32>(recs["plain.txt"].Time), packed);
    const double expected = QDate(1899, 12, 30).daysTo(when.date()) + (13 * 3600 + 2.25) / 86400.0;
    EXPECT_NEAR(FileTimeToLocalDateTime(recs["plain.txt"].FindData.LastWriteTime), expected, 1e-9);

    QStringList subs;
    for (const auto &s : list.Subfolders())
        subs << s.Name;
    subs.sort();
    EXPECT_EQ(subs, (QStringList{"link", "sub"}));
}

TEST(DirectoryLister, UnreadableOrMissingFolderListsNothing)
{
    QTemporaryDir dir;
    platform::DirectoryLister missing(dir.filePath("nope"));
    missing.SetMask("*");
    TSearchRec rec;
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.Next(rec));
    EXPECT_FALSE(missing.Id().has_value());
}

TEST(DirectoryLister, FullPathName)
{
    const QString cwd = QDir::currentPath();
    EXPECT_EQ(platform::FullPathName(""), cwd);
    EXPECT_EQ(platform::FullPathName("a/../b/"), cwd + "/b/");
    EXPECT_EQ(platform::FullPathName("/x/./y/../z"), "/x/z");
    EXPECT_EQ(platform::FullPathName("/"), "/");
}
