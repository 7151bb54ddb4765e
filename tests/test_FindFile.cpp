#include "components/FindFile.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages.
void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

void Write(const QString &path, const QByteArray &data = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

void SetTimes(const QString &path, const QDateTime &local)
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = local.toSecsSinceEpoch();
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

TDateTime DateValue(const QDate &d) { return QDate(1899, 12, 30).daysTo(d); }

// Records what a search reports.
struct Recorder {
    QStringList found;   // full paths, in order
    QStringList folders; // OnNewFolder, in order
    QStringList events;  // "found", "folder", "complete" in order
    int completes = 0;
    bool busyAtComplete = true;
    bool offWindowThread = false;

    void Attach(TFindFile &ff)
    {
        ff.OnFound = [this](QObject *, const QString &folder, TSearchRec &rec) {
            offWindowThread |= QThread::currentThread() != qApp->thread();
            found << (folder.endsWith('/') ? folder : folder + '/') + rec.Name;
            events << "found";
        };
        ff.OnNewFolder = [this](QObject *, const QString &folder, bool &) {
            offWindowThread |= QThread::currentThread() != qApp->thread();
            folders << folder;
            events << "folder";
        };
        ff.OnComplete = [this, &ff](QObject *) {
            busyAtComplete = ff.Busy();
            ++completes;
            events << "complete";
        };
    }
};

bool WaitIdle(TFindFile &ff, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (ff.Busy() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !ff.Busy();
}

QStringList Sorted(QStringList l)
{
    l.sort();
    return l;
}

// Runs a search over dir with the given setup and returns the sorted names found.
template <typename Setup>
QStringList Names(const QString &dir, Setup setup)
{
    TFindFile ff;
    Recorder r;
    r.Attach(ff);
    ff.setLocation(dir);
    setup(ff);
    ff.Execute();
    QStringList names;
    for (const QString &p : r.found)
        names << p.mid(dir.size() + 1);
    return Sorted(names);
}

} // namespace

TEST(FindFile, DefaultsAndRefusedValues)
{
    TFindFile ff;
    EXPECT_EQ(ff.Filename(), "*.*");
    EXPECT_TRUE(ff.Subfolders());
    EXPECT_TRUE(ff.IgnoreCase());
    EXPECT_FALSE(ff.Threaded());
    EXPECT_EQ(ff.ThreadPriority(), tpNormal);
    EXPECT_EQ(ff.Attributes(), (TFileAttributes{ffArchive, ffReadonly, ffHidden, ffSystem}));
    EXPECT_FALSE(ff.Busy());

    ff.setFilename("*.ini");
    for (const QString bad : {"sub/*.txt", "C:", "a:b", "/"}) {
        try {
            ff.setFilename(bad);
            ADD_FAILURE() << "accepted " << bad.toStdString();
        } catch (const EFindFileError &e) {
            EXPECT_EQ(e.message(), bad + "\n\rInvalid filename specified");
        }
        EXPECT_EQ(ff.Filename(), "*.ini");
    }
    ff.setFilename("");
    EXPECT_EQ(ff.Filename(), "");

    ff.setLocation("/tmp");
    for (const QString bad : {"/tmp/*", "/t?p", "/a;/b*"}) {
        try {
            ff.setLocation(bad);
            ADD_FAILURE() << "accepted " << bad.toStdString();
        } catch (const EFindFileError &e) {
            EXPECT_EQ(e.message(), bad + "\n\rlocation cannot to be contained wildcards");
        }
        EXPECT_EQ(ff.Location(), "/tmp");
    }
}

TEST(FindFile, WalkIsPreOrderAndSkipsDotNames)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (const char *f : {"top.txt", "s1/a.txt", "s1/deep/b.txt", "s1/deep/deeper/c.txt", "s2/d.txt",
                          "s2/x/e.txt", ".cache/hidden.txt", "s1/.profile", ".top.txt", "s2/skip.dat"})
        Write(d + "/" + f);

    TFindFile ff;
    Recorder r;
    r.Attach(ff);
    ff.setLocation(d);
    ff.setFilename("*.txt");
    ff.Execute();

    EXPECT_EQ(r.completes, 1);
    EXPECT_FALSE(ff.Busy());
    EXPECT_FALSE(ff.Aborted());
    EXPECT_EQ(Sorted(r.found), Sorted({d + "/top.txt", d + "/s1/a.txt", d + "/s1/deep/b.txt",
                                       d + "/s1/deep/deeper/c.txt", d + "/s2/d.txt", d + "/s2/x/e.txt"}));
    // Folders are given without their trailing delimiter, and dot folders are never entered.
    EXPECT_EQ(Sorted(r.folders), Sorted({d, d + "/s1", d + "/s1/deep", d + "/s1/deep/deeper", d + "/s2", d + "/s2/x"}));

    // Pre-order: each find belongs to the folder announced last, and once the walk
    // leaves a folder's subtree it never comes back to it.
    QStringList open, left;
    qsizetype folder = 0, find = 0;
    for (const QString &e : r.events) {
        if (e == "folder") {
            const QString next = r.folders[folder++];
            while (!open.isEmpty() && !next.startsWith(open.last() + "/"))
                left << open.takeLast();
            for (const QString &l : left)
                EXPECT_FALSE(next.startsWith(l + "/")) << next.toStdString() << " after leaving " << l.toStdString();
            open << next;
        } else if (e == "found") {
            EXPECT_EQ(QFileInfo(r.found[find++]).path(), open.last());
        }
    }
}

TEST(FindFile, LocationListsMasksAndFolderForm)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (const char *f : {"A/one.txt", "A/sub/two.txt", "B/three.txt", "readme", "readme.txt", "readme2"})
        Write(d + "/" + f);

    {
        // Two folders: the first completely, subfolders included, before the second; a
        // folder given twice (and a trailing ";") adds nothing.
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.setLocation(d + "/A;" + d + "/B;" + d + "/A/;");
        ff.setFilename("*.txt");
        ff.Execute();
        ASSERT_EQ(r.found.size(), 3);
        EXPECT_EQ(r.found[2], d + "/B/three.txt");
        EXPECT_EQ(r.folders.count(d + "/A"), 1);
    }

    EXPECT_EQ(Names(d, [](TFindFile &ff) {
                  ff.setFilename("readme");
                  ff.setSubfolders(false);
              }),
              (QStringList{"readme", "readme.txt"}));
    EXPECT_EQ(Names(d, [](TFindFile &ff) { ff.setFilename(""); }).size(), 6);

    {
        // An empty location is the current directory.
        const QString old = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(d + "/B"));
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.Execute();
        QDir::setCurrent(old);
        EXPECT_EQ(r.found, QStringList{d + "/B/three.txt"});
    }
    {
        // Lines of IncludeFiles replace Location and Filename.
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.setLocation(d + "/B");
        ff.setIncludeFiles({d + "/A/*.txt"});
        ff.setSubfolders(false);
        ff.Execute();
        EXPECT_EQ(r.found, QStringList{d + "/A/one.txt"});
    }
    {
        // The root keeps its delimiter; folders are reported when ffDirectory is asked for.
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        QStringList folders;
        ff.OnFound = [&](QObject *, const QString &folder, TSearchRec &rec) {
            folders << folder;
            r.found << rec.Name;
        };
        ff.setLocation("/");
        ff.setFilename("tmp");
        ff.setSubfolders(false);
        ff.setAttributes({ffDirectory});
        ff.Execute();
        EXPECT_EQ(r.found, QStringList{"tmp"});
        EXPECT_EQ(folders, QStringList{"/"});
    }
}

TEST(FindFile, IgnoredFolderSkipsItsSubtree)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (const char *f : {"keep.txt", "skip/a.txt", "skip/below/b.txt", "other/c.txt"})
        Write(d + "/" + f);
    TFindFile ff;
    Recorder r;
    r.Attach(ff);
    ff.OnNewFolder = [&](QObject *, const QString &folder, bool &ignore) {
        r.folders << folder;
        ignore = folder.endsWith("/skip");
    };
    ff.setLocation(d);
    ff.Execute();
    EXPECT_EQ(Sorted(r.found), Sorted({d + "/keep.txt", d + "/other/c.txt"}));
    EXPECT_FALSE(r.folders.contains(d + "/skip/below"));
}

TEST(FindFile, ExcludePatterns)
{
    const struct {
        const char *file, *pattern;
        bool match;
    } cases[] = {
        {"/data/x.bak", "*.BAK", true},
        {"/data/x.bak.txt", "*.BAK", false},
        {"/data/TEMP/a.txt", "/TEMP/*.*", true},
        {"/data/temp/a.txt", "/TEMP/*.*", true},
        {"/data/temp/readme", "/TEMP/*.*", false}, // "*.*" needs a dot
        {"/data/temp2/a.txt", "/TEMP/*.*", false},
        {"/data/x/temp/a.txt", "temp/", true},     // folder part only: every name in it
        {"/data/temp/x/a.txt", "temp/", false},    // the folder must end the path
        {"/TEMP/a.txt", "/TEMP/*.*", false},       // the pattern may not take the whole folder
        {"/d/ab", "A*B", false},                   // "*" followed by a letter never matches
        {"/d/a.b", "A*.B", true},
        {"/d/abc", "A?C", true},
        {"/d/a.c", "A?C", false},                  // "?" never matches a dot
        {"/d/ab", "AB?", true},
        {"/d/ab", "AB*", true},
        {"/d/a.txt", "", true},
        {"/d/\u00e9.txt", "\u00c9.TXT", false},     // only ASCII letters are folded
        {"C:/d/a.txt", "C:/D/*.TXT", true},
        {"C:/d/a.txt", "D:/D/*.TXT", false},
        {"C:/d/a.txt", "?:/D/*.TXT", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MatchesExcludePattern(QString::fromUtf8(c.file), QString::fromUtf8(c.pattern)), c.match)
            << c.file << " against " << c.pattern;

    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (const char *f : {"a.txt", "a.bak", "TEMP/b.txt", "TEMP/readme", "x/c.BAK"})
        Write(d + "/" + f);
    EXPECT_EQ(Names(d, [](TFindFile &ff) { ff.setExcludeFiles({"*.bak", "/TEMP/*.*"}); }),
              (QStringList{"TEMP/readme", "a.txt"}));
}

TEST(FindFile, AttributeAndSizeFilters)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    Write(d + "/plain", QByteArray(100, 'x'));
    Write(d + "/locked", QByteArray(101, 'x'));
    Write(d + "/empty");
    ASSERT_EQ(::chmod(QFile::encodeName(d + "/locked").constData(), 0444), 0);
    QDir(d).mkdir("folder");

    const struct {
        TFileAttributes attrs;
        bool exact;
        QStringList expected;
    } attrCases[] = {
        {{ffArchive, ffReadonly, ffHidden, ffSystem}, false, {"empty", "locked", "plain"}},
        {{ffArchive}, true, {"empty", "plain"}},
        {{ffArchive, ffReadonly}, true, {"locked"}},
        {{ffDirectory}, false, {"folder"}},
        {{ffArchive, ffDirectory}, false, {"empty", "folder", "locked", "plain"}},
        {{ffHidden}, false, {}},
    };
    for (const auto &c : attrCases)
        EXPECT_EQ(Names(d, [&](TFindFile &ff) {
                      ff.setAttributes(c.attrs);
                      ff.setExactAttribute(c.exact);
                  }),
                  c.expected)
            << "attributes " << int(c.attrs.Bits) << " exact " << c.exact;

    const struct {
        qint32 min, max;
        QStringList expected;
    } sizeCases[] = {
        {0, 0, {"empty", "locked", "plain"}},
        {0, 100, {"empty", "plain"}},
        {1, 0, {"locked", "plain"}},
        {101, 101, {"locked"}},
        {101, 100, {}},
    };
    for (const auto &c : sizeCases)
        EXPECT_EQ(Names(d, [&](TFindFile &ff) {
                      ff.setSizeMin(c.min);
                      ff.setSizeMax(c.max);
                  }),
                  c.expected)
            << "size " << c.min << ".." << c.max;
}

TEST(FindFile, DateFilters)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QDate day(2020, 3, 10);
    Write(d + "/morning");
    Write(d + "/afternoon");
    Write(d + "/nextday");
    SetTimes(d + "/morning", QDateTime(day, QTime(8, 0)));
    SetTimes(d + "/afternoon", QDateTime(day, QTime(13, 0)));
    SetTimes(d + "/nextday", QDateTime(day.addDays(1), QTime(9, 0)));
    const TDateTime date = DateValue(day);

    const struct {
        const char *what;
        TDateTime before, after;
        QStringList expected;
    } cases[] = {
        {"whole day before", date, 0, {"afternoon", "morning"}},
        {"whole day after", 0, date + 1, {"nextday"}},
        {"noon or later, any date", 0, 0.5, {"afternoon"}},
        {"up to 10:00, any date", 10.0 / 24, 0, {"morning", "nextday"}},
        {"moment", 0, date + 0.5, {"afternoon", "nextday"}},
        {"contradiction", date, date + 1, {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Names(d, [&](TFindFile &ff) {
                      ff.setModifiedBefore(c.before);
                      ff.setModifiedAfter(c.after);
                  }),
                  c.expected)
            << "modified, " << c.what;
        EXPECT_EQ(Names(d, [&](TFindFile &ff) {
                      ff.setAccessedBefore(c.before);
                      ff.setAccessedAfter(c.after);
                  }),
                  c.expected)
            << "accessed, " << c.what;
    }
    // Creation (birth or change time) is today: after yesterday, and not before 2000.
    const TDateTime today = DateValue(QDate::currentDate());
    EXPECT_EQ(Names(d, [&](TFindFile &ff) { ff.setCreatedAfter(today - 1); }).size(), 3);
    EXPECT_EQ(Names(d, [&](TFindFile &ff) { ff.setCreatedBefore(DateValue(QDate(2000, 1, 1))); }).size(), 0);
}

TEST(FindFile, ContentSearch)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QByteArray utf16("a\0b\0c\0", 6);
    const struct {
        const char *what;
        QString text;
        bool ignoreCase;
        QByteArray content;
        bool found;
    } cases[] = {
        {"case ignored", "abc", true, "xxABCxx", true},
        {"case kept", "abc", false, "xxABCxx", false},
        {"exact", "abc", false, "abc", true},
        {"false starts in both cases", "abc", true, "Abx aBx ABD abC", true},
        {"first character not a letter", "1a2", true, "xx1b2 1A2", true},
        {"only as UTF-16", "abc", true, utf16, false},
        {"shorter file", "abc", true, "ab", false},
        {"zero byte inside", "abc", true, QByteArray("a\0bc", 4), false},
        {"across the 4096-byte boundary", "abc", true, QByteArray(4094, 'x') + "abc", true},
        {"inside the second block", "abc", true, QByteArray(4097, 'x') + "abc", true},
        {"deep in a large file", "needle", true, QByteArray(3 * 4096 + 4093, 'x') + "NEEDLE" + QByteArray(50, 'x'), true},
        {"a long text over several blocks", QString(5000, 'q') + "!", true, QByteArray(4000, 'x') + QByteArray(5000, 'Q') + "!", true},
        {"non-ASCII text", QString::fromUtf8("caf\u00e9"), true, "CAF\xc3\xa9", true},
        {"non-ASCII letters are not folded", QString::fromUtf8("\u00e9"), true, "\xc3\x89", false},
    };
    for (const auto &c : cases) {
        Write(d + "/file.txt", c.content);
        const QStringList names = Names(d, [&](TFindFile &ff) {
            ff.setContaining(c.text);
            ff.setIgnoreCase(c.ignoreCase);
        });
        EXPECT_EQ(names, c.found ? QStringList{"file.txt"} : QStringList{}) << c.what;
    }
}

TEST(FindFile, ContentSearchGoesOnPastFilesItCannotRead)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    Write(d + "/a.txt", "the word");
    Write(d + "/z.txt", "the word");
    ASSERT_EQ(::symlink("gone", QFile::encodeName(d + "/dangling.txt").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(d + "/pipe.txt").constData(), 0644), 0);
    Write(d + "/noread.txt", "the word");
    ASSERT_EQ(::chmod(QFile::encodeName(d + "/noread.txt").constData(), 0), 0);

    for (bool threaded : {false, true}) {
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.setLocation(d);
        ff.setContaining("word");
        ff.setThreaded(threaded);
        ff.Execute();
        ASSERT_TRUE(WaitIdle(ff));
        EXPECT_FALSE(ff.Aborted());
        EXPECT_EQ(r.completes, 1);
        QStringList expected{d + "/a.txt", d + "/z.txt"};
        if (::geteuid() == 0) // root reads files without permission
            expected << d + "/noread.txt";
        EXPECT_EQ(Sorted(r.found), Sorted(expected)) << (threaded ? "threaded" : "synchronous");
    }
}

TEST(FindFile, LinksBackUpTheTreeAreEnteredOnce)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    Write(d + "/a/one.txt");
    Write(d + "/b/two.txt");
    ASSERT_EQ(::symlink("..", QFile::encodeName(d + "/a/up").constData()), 0);
    ASSERT_EQ(::symlink("../a", QFile::encodeName(d + "/b/toa").constData()), 0);
    ASSERT_EQ(::symlink(".", QFile::encodeName(d + "/self").constData()), 0);

    for (bool threaded : {false, true}) {
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.setLocation(d);
        ff.setThreaded(threaded);
        ff.Execute();
        ASSERT_TRUE(WaitIdle(ff));
        // Folder a may be reached through b/toa first; either way it is searched once.
        QStringList names;
        for (const QString &p : r.found)
            names << QFileInfo(p).fileName();
        EXPECT_EQ(Sorted(names), (QStringList{"one.txt", "two.txt"}));
        EXPECT_EQ(r.folders.size(), 3) << r.folders.join(' ').toStdString();
    }
}

TEST(FindFile, BadNamesAndVanishingFiles)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QByteArray root = QFile::encodeName(d);
    // Names that are not valid UTF-8: a file and a folder holding a file.
    ASSERT_GE(::close(::open((root + "/bad\xff.txt").constData(), O_CREAT | O_WRONLY, 0644)), 0);
    ASSERT_EQ(::mkdir((root + "/dir\xfe").constData(), 0755), 0);
    ASSERT_GE(::close(::open((root + "/dir\xfe/inner.txt").constData(), O_CREAT | O_WRONLY, 0644)), 0);
    Write(d + "/good.txt");

    TFindFile ff;
    Recorder r;
    r.Attach(ff);
    ff.setLocation(d);
    ff.Execute();
    EXPECT_FALSE(ff.Aborted());
    EXPECT_EQ(r.found.size(), 3);
    EXPECT_TRUE(r.found.contains(d + "/good.txt"));
    EXPECT_TRUE(std::any_of(r.found.begin(), r.found.end(), [](const QString &p) { return p.endsWith("/inner.txt"); }));
    // The temporary folder cannot remove names that are not valid text.
    ::unlink((root + "/bad\xff.txt").constData());
    ::unlink((root + "/dir\xfe/inner.txt").constData());
    ::rmdir((root + "/dir\xfe").constData());

    // Files removed while their folder is being read are left out without an error.
    QTemporaryDir tmp2;
    const QString e = tmp2.path();
    for (int i = 0; i < 20; ++i)
        Write(e + QString("/f%1.txt").arg(i));
    TFindFile vanish;
    QStringList seen;
    vanish.OnFound = [&](QObject *, const QString &, TSearchRec &rec) {
        seen << rec.Name;
        if (seen.size() == 1)
            for (int i = 0; i < 20; ++i)
                if (QString("f%1.txt").arg(i) != rec.Name)
                    QFile::remove(e + QString("/f%1.txt").arg(i));
    };
    vanish.setLocation(e);
    vanish.Execute();
    EXPECT_EQ(seen.size(), 1);
    EXPECT_FALSE(vanish.Aborted());

    // A missing folder yields nothing and no error.
    TFindFile missing;
    Recorder m;
    m.Attach(missing);
    missing.setLocation(d + "/nowhere");
    missing.Execute();
    EXPECT_TRUE(m.found.isEmpty());
    EXPECT_EQ(m.completes, 1);
    EXPECT_FALSE(missing.Aborted());
}

TEST(FindFile, UnreadableFolderIsSkipped)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    Write(d + "/locked/a.txt");
    Write(d + "/open/b.txt");
    for (const QString &p : {d, d + "/open"})
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(d + "/locked").constData(), 0), 0);

    auto search = [&] {
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.setLocation(d);
        ff.Execute();
        return r.found == QStringList{d + "/open/b.txt"} && !ff.Aborted() && r.completes == 1;
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(search());
    } else {
        // Root reads every folder: search as nobody in a child process.
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::alarm(20);
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            ::_exit(search() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong finds, 3: could not drop root";
    }
    ::chmod(QFile::encodeName(d + "/locked").constData(), 0755);
}

TEST(FindFile, HandlerErrorsAbortAndReentryIsIgnored)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (int i = 0; i < 10; ++i)
        Write(d + QString("/f%1.txt").arg(i));

    for (bool threaded : {false, true}) {
        // A handler that throws ends the search quietly.
        TFindFile ff;
        Recorder r;
        r.Attach(ff);
        ff.OnFound = [&](QObject *, const QString &, TSearchRec &) {
            r.events << "found";
            throw std::runtime_error("handler failed");
        };
        ff.setLocation(d);
        ff.setThreaded(threaded);
        EXPECT_NO_THROW(ff.Execute());
        ASSERT_TRUE(WaitIdle(ff));
        EXPECT_TRUE(ff.Aborted());
        EXPECT_EQ(r.events, (QStringList{"folder", "found", "complete"}));

        // Abort from a handler stops after the current entry; Execute inside is ignored.
        TFindFile ab;
        Recorder s;
        s.Attach(ab);
        ab.OnFound = [&](QObject *, const QString &, TSearchRec &) {
            s.events << "found";
            ab.Execute();
            ab.Abort();
        };
        ab.setLocation(d);
        ab.setThreaded(threaded);
        ab.Execute();
        ASSERT_TRUE(WaitIdle(ab));
        EXPECT_TRUE(ab.Aborted());
        EXPECT_EQ(s.events, (QStringList{"folder", "found", "complete"})) << (threaded ? "threaded" : "synchronous");

        // The next search starts afresh.
        ab.OnFound = nullptr;
        ab.Execute();
        ASSERT_TRUE(WaitIdle(ab));
        EXPECT_FALSE(ab.Aborted());
    }
}

namespace {

// Makes a tree big enough that a background search is still running when looked at.
void MakeTree(const QString &d, int folders, int files)
{
    for (int i = 0; i < folders; ++i)
        for (int j = 0; j < files; ++j)
            Write(d + QString("/d%1/f%2.txt").arg(i).arg(j), "text");
}

class ProbedFindFile : public TFindFile {
public:
    using TFindFile::TFindFile;
    QList<QThread::Priority> priorities;
    QStringList asked;

protected:
    bool DoNewFolder(const QString &folder) override
    {
        if (SearchThread())
            priorities << SearchThread()->priority();
        asked << folder;
        if (asked.size() == 2)
            setThreadPriority(tpLowest);
        return !folder.endsWith("/d1/") && TFindFile::DoNewFolder(folder);
    }
};

} // namespace

TEST(FindFileBackground, SameFindsOnTheWindowThreadThenComplete)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    MakeTree(d, 20, 30);

    TFindFile sync;
    Recorder rs;
    rs.Attach(sync);
    sync.setLocation(d);
    sync.Execute();

    TFindFile bg;
    Recorder rb;
    rb.Attach(bg);
    bg.setLocation(d);
    bg.setThreaded(true);
    bg.Execute();
    EXPECT_TRUE(bg.Busy());
    EXPECT_TRUE(rb.found.isEmpty());
    ASSERT_TRUE(WaitIdle(bg));

    EXPECT_EQ(rb.found.size(), 600);
    EXPECT_EQ(rb.found, rs.found);
    EXPECT_EQ(rb.events, rs.events); // complete comes last
    EXPECT_FALSE(rb.offWindowThread);
    EXPECT_FALSE(rb.busyAtComplete);
    EXPECT_EQ(rb.completes, 1);
}

TEST(FindFileBackground, HandlerWithANestedLoopGetsNothingInside)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    MakeTree(d, 5, 20);

    TFindFile ff;
    Recorder r;
    r.Attach(ff);
    bool inside = false;
    bool reentered = false;
    ff.OnFound = [&](QObject *, const QString &, TSearchRec &rec) {
        reentered |= inside;
        r.found << rec.Name;
        r.events << "found";
        if (r.found.size() == 1) {
            // As a modal box would: the worker finishes the walk meanwhile.
            inside = true;
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
            inside = false;
        }
    };
    ff.OnComplete = [&](QObject *) {
        reentered |= inside;
        r.events << "complete";
    };
    ff.OnNewFolder = nullptr; // the worker runs to its end without waiting for answers
    ff.setLocation(d);
    ff.setThreaded(true);
    ff.Execute();
    ASSERT_TRUE(WaitIdle(ff));
    EXPECT_FALSE(reentered);
    EXPECT_EQ(r.found.size(), 100);
    EXPECT_EQ(r.events.last(), "complete");
    EXPECT_EQ(r.events.count("complete"), 1);
}

TEST(FindFileBackground, PriorityOverridesAndIgnoredFolders)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    MakeTree(d, 4, 3);

    // Without an OnNewFolder handler the overridden step is still asked.
    ProbedFindFile ff;
    Recorder r;
    r.Attach(ff);
    ff.OnNewFolder = nullptr;
    ff.setLocation(d);
    ff.setThreaded(true);
    ff.setThreadPriority(tpHigher);
    ff.Execute();
    ASSERT_TRUE(WaitIdle(ff));
    ASSERT_GE(ff.priorities.size(), 3);
    EXPECT_EQ(ff.priorities[0], QThread::HighPriority);   // from the start
    EXPECT_EQ(ff.priorities[2], QThread::LowestPriority); // changed while running
    EXPECT_EQ(r.found.size(), 9);
    for (const QString &p : r.found)
        EXPECT_FALSE(p.contains("/d1/"));
}

TEST(FindFileBackground, AbortReturnsAfterComplete)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    MakeTree(d, 100, 20);

    TFindFile ff;
    Recorder r;
    r.Attach(ff);
    ff.setLocation(d);
    ff.setThreaded(true);
    ff.Execute();
    QElapsedTimer t;
    t.start();
    while (r.found.isEmpty() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ff.Abort();
    EXPECT_EQ(r.completes, 1);
    EXPECT_FALSE(ff.Busy());
    EXPECT_TRUE(ff.Aborted());
    const qsizetype count = r.found.size();
    EXPECT_LT(count, 2000);
    QCoreApplication::processEvents();
    EXPECT_EQ(r.found.size(), count);
    EXPECT_EQ(r.events.last(), "complete");
}

TEST(FindFileBackground, DestroyedWhileSearchingRaisesNoEvent)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    MakeTree(d, 50, 20);

    for (int wait : {0, 1, 5}) {
        int events = 0;
        {
            auto *ff = new TFindFile;
            ff->OnFound = [&](QObject *, const QString &, TSearchRec &) { ++events; };
            ff->OnNewFolder = [&](QObject *, const QString &, bool &) { ++events; };
            ff->OnComplete = [&](QObject *) { events += 1000000; };
            ff->setLocation(d);
            ff->setContaining("text");
            ff->setThreaded(true);
            ff->Execute();
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < wait)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            delete ff;
        }
        const int atDelete = events;
        QCoreApplication::processEvents();
        QThread::msleep(20);
        QCoreApplication::processEvents();
        EXPECT_EQ(events, atDelete);
        EXPECT_LT(events, 1000000) << "OnComplete fired";
    }
}
