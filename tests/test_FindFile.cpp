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
#include <functional>
#include <grp.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
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

QByteArray Raw(const QString &path) { return QFile::encodeName(path); }

TDateTime DateValue(const QDate &d) { return QDate(1899, 12, 30).daysTo(d); }

QStringList Sorted(QStringList l)
{
    l.sort();
    return l;
}

bool WaitIdle(TFindFile &ff, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (ff.Busy() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !ff.Busy();
}

// A finder over LOCATION that records what it reports.
template <typename Finder = TFindFile>
struct Search {
    Finder ff;
    QStringList found;   // full paths, in order
    QStringList foundIn; // the folder each find came with
    QStringList folders; // OnNewFolder, in order
    QStringList events;  // "found", "folder", "complete" in order
    bool busyAtComplete = true, offWindowThread = false;

    explicit Search(const QString &location = {}, bool threaded = false)
    {
        ff.OnFound = [this](QObject *, const QString &folder, TSearchRec &rec) {
            Note("found");
            foundIn << folder;
            found << (folder.endsWith('/') ? folder : folder + '/') + rec.Name;
        };
        ff.OnNewFolder = [this](QObject *, const QString &folder, bool &) { Note("folder"); folders << folder; };
        ff.OnComplete = [this](QObject *) { Note("complete"); busyAtComplete = ff.Busy(); };
        ff.setLocation(location);
        ff.setThreaded(threaded);
    }
    void Note(const char *event)
    {
        events << event;
        offWindowThread |= QThread::currentThread() != qApp->thread();
    }
    Search &Run()
    {
        ff.Execute();
        EXPECT_TRUE(WaitIdle(ff));
        return *this;
    }
    qsizetype Completes() const { return events.count("complete"); }
};

using Configure = std::function<void(TFindFile &)>;

// The sorted names found below dir by a search set up by setup.
QStringList Names(const QString &dir, const Configure &setup)
{
    Search s(dir);
    setup(s.ff);
    QStringList names;
    for (const QString &p : s.Run().found)
        names << p.mid(dir.size() + 1);
    return Sorted(names);
}

// Trees made once per test program: "sample", small with dot names, and "big", 50 folders
// of 20 files, big enough that a background search is still running when looked at.
QString Tree(const char *which)
{
    static QTemporaryDir dir;
    static const bool made = [] {
        for (const char *f : {"top.txt", "top", "top2", ".top.txt", ".cache/hidden.txt", "s1/a.txt", "s1/.profile",
                              "s1/deep/b.txt", "s1/deep/notes", "s1/deep/deeper/c.txt", "s2/d.txt", "s2/skip.dat",
                              "s2/x/e.txt", "skip/f.txt", "skip/in/g.txt"})
            Write(dir.path() + "/sample/" + f);
        for (int i = 0; i < 50; ++i)
            for (int j = 0; j < 20; ++j)
                Write(dir.path() + QString("/big/d%1/f%2.txt").arg(i).arg(j), "text");
        return true;
    }();
    return made ? dir.path() + "/" + which : QString();
}

} // namespace

TEST(FindFile, DefaultsAndRefusedValues)
{
    TFindFile ff;
    EXPECT_EQ(ff.Filename(), "*.*");
    EXPECT_TRUE(ff.Subfolders() && ff.IgnoreCase() && !ff.Threaded() && !ff.Busy());
    EXPECT_EQ(ff.ThreadPriority(), tpNormal);
    EXPECT_EQ(ff.Attributes(), (TFileAttributes{ffArchive, ffReadonly, ffHidden, ffSystem}));

    // A refused value raises the error and leaves the old one in place.
    ff.setFilename("*.ini");
    ff.setLocation("/tmp");
    const struct { bool location; const char *value; } refused[] = {
        {false, "sub/*.txt"}, {false, "C:"}, {false, "a:b"}, {false, "/"},
        {true, "/tmp/*"},     {true, "/t?p"}, {true, "/a;/b*"}};
    for (const auto &c : refused) {
        const QString value = c.value;
        try {
            c.location ? ff.setLocation(value) : ff.setFilename(value);
            ADD_FAILURE() << "accepted " << c.value;
        } catch (const EFindFileError &e) {
            EXPECT_EQ(e.message(), value + (c.location ? "\n\rlocation cannot to be contained wildcards"
                                                       : "\n\rInvalid filename specified"));
        }
        EXPECT_EQ(ff.Filename(), "*.ini");
        EXPECT_EQ(ff.Location(), "/tmp");
    }
    ff.setFilename("");
    EXPECT_EQ(ff.Filename(), "");
}

TEST(FindFile, WalkIsPreOrderSkipsDotNamesAndIgnoredFolders)
{
    const QString d = Tree("sample");
    Search s(d);
    const auto record = s.ff.OnNewFolder;
    s.ff.OnNewFolder = [&](QObject *sender, const QString &folder, bool &ignore) {
        record(sender, folder, ignore);
        ignore = folder.endsWith("/skip");
    };
    s.ff.setFilename("*.txt");
    s.Run();
    EXPECT_EQ(s.Completes(), 1);
    EXPECT_FALSE(s.ff.Aborted());
    EXPECT_EQ(Sorted(s.found), Sorted({d + "/top.txt", d + "/s1/a.txt", d + "/s1/deep/b.txt",
                                       d + "/s1/deep/deeper/c.txt", d + "/s2/d.txt", d + "/s2/x/e.txt"}));
    // Folders come without their trailing delimiter; dot folders and what lies below an
    // ignored folder are never entered.
    EXPECT_EQ(Sorted(s.folders), Sorted({d, d + "/s1", d + "/s1/deep", d + "/s1/deep/deeper", d + "/s2",
                                         d + "/s2/x", d + "/skip"}));

    // Pre-order: each find belongs to the folder announced last (so a folder's finds come
    // before its subfolders), and once the walk leaves a subtree it never comes back.
    QStringList open, left;
    qsizetype folder = 0, find = 0;
    for (const QString &e : s.events) {
        if (e == "folder") {
            const QString next = s.folders[folder++];
            while (!open.isEmpty() && !next.startsWith(open.last() + "/"))
                left << open.takeLast();
            for (const QString &l : left)
                EXPECT_FALSE(next.startsWith(l + "/")) << next.toStdString() << " after leaving " << l.toStdString();
            open << next;
        } else if (e == "found") {
            EXPECT_EQ(QFileInfo(s.found[find++]).path(), open.last());
        }
    }
}

TEST(FindFile, LocationsMasksAndExcludes)
{
    const QString d = Tree("sample");
    const struct { const char *what; Configure setup; QStringList expected; } cases[] = {
        {"a mask without a dot", [](TFindFile &f) { f.setFilename("top"); f.setSubfolders(false); },
         {"top", "top.txt"}},
        {"no mask", [](TFindFile &f) { f.setFilename(""); f.setSubfolders(false); }, {"top", "top.txt", "top2"}},
        {"include lines replace location and mask",
         [&](TFindFile &f) { f.setIncludeFiles({d + "/s2/*.txt"}); f.setSubfolders(false); }, {"s2/d.txt"}},
        {"excludes", [](TFindFile &f) { f.setExcludeFiles({"*.DAT", "/DEEP/*.*"}); },
         {"s1/a.txt", "s1/deep/deeper/c.txt", "s1/deep/notes", "s2/d.txt", "s2/x/e.txt", "skip/f.txt",
          "skip/in/g.txt", "top", "top.txt", "top2"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Names(d, c.setup), c.expected) << c.what;

    // Two folders: the first completely, subfolders included, before the second; a folder
    // given twice (and a trailing ";") adds nothing.
    Search two(d + "/s1;" + d + "/s2;" + d + "/s1/;");
    two.ff.setFilename("*.txt");
    ASSERT_EQ(two.Run().found.size(), 5);
    EXPECT_EQ(two.found.filter(d + "/s2/"), two.found.mid(3));
    EXPECT_EQ(two.folders.count(d + "/s1"), 1);

    // An empty location is the current directory.
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(d + "/s2"));
    Search here;
    here.ff.setFilename("*.txt");
    here.Run();
    QDir::setCurrent(old);
    EXPECT_EQ(Sorted(here.found), (QStringList{d + "/s2/d.txt", d + "/s2/x/e.txt"}));

    // The root keeps its delimiter; folders are reported when ffDirectory is asked for.
    Search root("/");
    root.ff.setFilename("tmp");
    root.ff.setSubfolders(false);
    root.ff.setAttributes({ffDirectory});
    EXPECT_EQ(root.Run().found, QStringList{"/tmp"});
    EXPECT_EQ(root.foundIn, QStringList{"/"});
}

TEST(FindFile, ExcludePatterns)
{
    const struct { const char *file, *pattern; bool match; } cases[] = {
        {"/data/x.bak", "*.BAK", true},          {"/data/x.bak.txt", "*.BAK", false},
        {"/data/temp/a.txt", "/TEMP/*.*", true}, {"/data/temp2/a.txt", "/TEMP/*.*", false},
        {"/data/temp/readme", "/TEMP/*.*", false}, // "*.*" needs a dot
        {"/data/x/temp/a.txt", "temp/", true},     // folder part only: every name in it
        {"/data/temp/x/a.txt", "temp/", false},    // the folder must end the path
        {"/TEMP/a.txt", "/TEMP/*.*", false},       // the pattern may not take the whole folder
        {"/d/ab", "A*B", false},                   // "*" followed by a letter never matches
        {"/d/a.c", "A?C", false},                  // "?" never matches a dot
        {"/d/\u00e9.txt", "\u00c9.TXT", false},     // only ASCII letters are folded
        {"/d/a.b", "A*.B", true},                {"/d/abc", "A?C", true},
        {"/d/ab", "AB?", true},                  {"/d/ab", "AB*", true},
        {"/d/a.txt", "", true},                  {"C:/d/a.txt", "C:/D/*.TXT", true},
        {"C:/d/a.txt", "D:/D/*.TXT", false},     {"C:/d/a.txt", "?:/D/*.TXT", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MatchesExcludePattern(QString::fromUtf8(c.file), QString::fromUtf8(c.pattern)), c.match)
            << c.file << " against " << c.pattern;
}

TEST(FindFile, AttributeSizeAndDateFilters)
{
    // plain: 100 bytes, 8:00; locked: 101 bytes, read-only, 13:00; empty: next day 9:00.
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QDate day(2020, 3, 10);
    const std::tuple<const char *, qsizetype, QDateTime> files[] = {
        {"plain", 100, QDateTime(day, QTime(8, 0))},
        {"locked", 101, QDateTime(day, QTime(13, 0))},
        {"empty", 0, QDateTime(day.addDays(1), QTime(9, 0))}};
    for (const auto &[name, size, time] : files) {
        Write(d + "/" + name, QByteArray(size, 'x'));
        const timespec times[2] = {{time.toSecsSinceEpoch(), 0}, {time.toSecsSinceEpoch(), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, Raw(d + "/" + name).constData(), times, 0), 0);
    }
    ASSERT_EQ(::chmod(Raw(d + "/locked").constData(), 0444), 0);
    QDir(d).mkdir("folder");

    const TDateTime today = DateValue(QDate::currentDate());
    const QStringList all{"empty", "locked", "plain"};
    const struct { const char *what; Configure setup; QStringList expected; } cases[] = {
        {"default attributes", [](TFindFile &) {}, all},
        {"exactly archive", [](TFindFile &f) { f.setAttributes({ffArchive}); f.setExactAttribute(true); },
         {"empty", "plain"}},
        {"exactly archive, read-only",
         [](TFindFile &f) { f.setAttributes({ffArchive, ffReadonly}); f.setExactAttribute(true); }, {"locked"}},
        {"folders", [](TFindFile &f) { f.setAttributes({ffDirectory}); }, {"folder"}},
        {"files and folders", [](TFindFile &f) { f.setAttributes({ffArchive, ffDirectory}); },
         {"empty", "folder", "locked", "plain"}},
        {"hidden", [](TFindFile &f) { f.setAttributes({ffHidden}); }, {}},
        {"up to 100 bytes", [](TFindFile &f) { f.setSizeMax(100); }, {"empty", "plain"}},
        {"from 1 byte", [](TFindFile &f) { f.setSizeMin(1); }, {"locked", "plain"}},
        {"exactly 101 bytes", [](TFindFile &f) { f.setSizeMin(101); f.setSizeMax(101); }, {"locked"}},
        {"least above most", [](TFindFile &f) { f.setSizeMin(101); f.setSizeMax(100); }, {}},
        // Creation (birth or change time) is today.
        {"created after yesterday", [&](TFindFile &f) { f.setCreatedAfter(today - 1); }, all},
        {"created before 2000", [](TFindFile &f) { f.setCreatedBefore(DateValue(QDate(2000, 1, 1))); }, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Names(d, c.setup), c.expected) << c.what;

    const TDateTime date = DateValue(day);
    const struct { const char *what; TDateTime before, after; QStringList expected; } dateCases[] = {
        {"whole day before", date, 0, {"locked", "plain"}},
        {"whole day after", 0, date + 1, {"empty"}},
        {"noon or later, any date", 0, 0.5, {"locked"}},
        {"up to 10:00, any date", 10.0 / 24, 0, {"empty", "plain"}},
        {"moment", 0, date + 0.5, {"empty", "locked"}},
        {"contradiction", date, date + 1, {}},
    };
    using Limit = void (TFindFile::*)(TDateTime);
    using Kind = std::tuple<const char *, Limit, Limit>;
    for (const auto &[kind, before, after] :
         {Kind{"modified", &TFindFile::setModifiedBefore, &TFindFile::setModifiedAfter},
          Kind{"accessed", &TFindFile::setAccessedBefore, &TFindFile::setAccessedAfter}})
        for (const auto &c : dateCases)
            EXPECT_EQ(Names(d, [&](TFindFile &f) { (f.*before)(c.before); (f.*after)(c.after); }), c.expected)
                << kind << ", " << c.what;
}

TEST(FindFile, ContentSearch)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const struct { const char *what; QString text; bool ignoreCase; QByteArray content; bool found; } cases[] = {
        {"case ignored", "abc", true, "xxABCxx", true},
        {"case kept", "abc", false, "xxABCxx", false},
        {"exact", "abc", false, "abc", true},
        {"false starts in both cases", "abc", true, "Abx aBx ABD abC", true},
        {"first character not a letter", "1a2", true, "xx1b2 1A2", true},
        {"only as UTF-16", "abc", true, QByteArray("a\0b\0c\0", 6), false},
        {"shorter file", "abc", true, "ab", false},
        {"zero byte inside", "abc", true, QByteArray("a\0bc", 4), false},
        {"across the 4096-byte boundary", "abc", true, QByteArray(4094, 'x') + "abc", true},
        {"inside the second block", "abc", true, QByteArray(4097, 'x') + "abc", true},
        {"across a later boundary", "needle", true, QByteArray(4 * 4096 - 3, 'x') + "NEEDLE" + QByteArray(50, 'x'), true},
        {"a text over several blocks", QString(5000, 'q') + "!", true, QByteArray(4000, 'x') + QByteArray(5000, 'Q') + "!", true},
        {"non-ASCII text", QString::fromUtf8("caf\u00e9"), true, "CAF\xc3\xa9", true},
        {"non-ASCII letters are not folded", QString::fromUtf8("\u00e9"), true, "\xc3\x89", false},
    };
    for (const auto &c : cases) {
        Write(d + "/file.txt", c.content);
        EXPECT_EQ(Names(d, [&](TFindFile &ff) { ff.setContaining(c.text); ff.setIgnoreCase(c.ignoreCase); }),
                  c.found ? QStringList{"file.txt"} : QStringList{})
            << c.what;
    }
}

// Links back up the tree, dangling links, pipes, unreadable files and names that are not
// valid UTF-8: each folder is searched once, and nothing stops the search.
TEST(FindFile, AwkwardEntriesNeitherStopNorLoopTheWalk)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QByteArray root = Raw(d);
    Write(d + "/a/one.txt", "the word");
    Write(d + "/b/two.txt", "the word");
    Write(d + "/noread.txt", "the word");
    ASSERT_EQ(::chmod(Raw(d + "/noread.txt").constData(), 0), 0);
    ASSERT_EQ(::symlink("..", Raw(d + "/a/up").constData()), 0);
    ASSERT_EQ(::symlink("../a", Raw(d + "/b/toa").constData()), 0);
    ASSERT_EQ(::symlink(".", Raw(d + "/self").constData()), 0);
    ASSERT_EQ(::symlink("gone", Raw(d + "/dangling.txt").constData()), 0);
    ASSERT_EQ(::mkfifo(Raw(d + "/pipe.txt").constData(), 0644), 0);
    ASSERT_EQ(::mkdir((root + "/dir\xfe").constData(), 0755), 0);
    for (const QByteArray &name : {root + "/bad\xff.txt", root + "/dir\xfe/inner.txt"}) {
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(::write(fd, "the word", 8), 8);
        ::close(fd);
    }
    const bool root_reads_all = ::geteuid() == 0;

    for (bool threaded : {false, true}) {
        Search s(d, threaded);
        s.ff.setContaining("word");
        s.Run();
        EXPECT_FALSE(s.ff.Aborted());
        EXPECT_EQ(s.Completes(), 1);
        // Links back up the tree (a/up, self) are not followed; b/toa is no loop, so folder a
        // is searched through it too, as Windows walks a junction.
        QStringList names;
        for (const QString &p : s.found)
            names << QFileInfo(p).fileName().left(3);
        EXPECT_EQ(Sorted(names), root_reads_all ? (QStringList{"bad", "inn", "nor", "one", "one", "two"})
                                                : (QStringList{"bad", "inn", "one", "one", "two"}))
            << (threaded ? "threaded" : "synchronous");
        EXPECT_EQ(s.folders.size(), 5) << s.folders.join(' ').toStdString();
    }
    // The temporary folder cannot remove names that are not valid text.
    ::unlink((root + "/bad\xff.txt").constData());
    ::unlink((root + "/dir\xfe/inner.txt").constData());
    ::rmdir((root + "/dir\xfe").constData());
}

TEST(FindFile, VanishingFilesAndMissingOrUnreadableFolders)
{
    // Files removed while their folder is being read are left out without an error.
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (int i = 0; i < 20; ++i)
        Write(d + QString("/f%1.txt").arg(i));
    Search vanish(d);
    vanish.ff.OnFound = [&](QObject *, const QString &, TSearchRec &rec) {
        vanish.found << rec.Name;
        for (int i = 0; i < 20 && vanish.found.size() == 1; ++i)
            if (QString("f%1.txt").arg(i) != rec.Name)
                QFile::remove(d + QString("/f%1.txt").arg(i));
    };
    EXPECT_EQ(vanish.Run().found.size(), 1);
    EXPECT_FALSE(vanish.ff.Aborted());

    // A missing folder yields nothing and no error; so does one that cannot be read.
    Write(d + "/locked/a.txt");
    Write(d + "/open/b.txt");
    for (const QString &p : {d, d + "/open"})
        ASSERT_EQ(::chmod(Raw(p).constData(), 0755), 0);
    ASSERT_EQ(::chmod(Raw(d + "/locked").constData(), 0), 0);
    auto search = [&](const QString &location, const QStringList &expected) {
        Search s(location);
        s.ff.setFilename("?.txt");
        s.Run();
        return s.found == expected && !s.ff.Aborted() && s.Completes() == 1;
    };
    EXPECT_TRUE(search(d + "/nowhere", {}));
    if (::geteuid() != 0) {
        EXPECT_TRUE(search(d, {d + "/open/b.txt"}));
    } else {
        // Root reads every folder: search as nobody in a child process.
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::alarm(20);
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            ::_exit(search(d, {d + "/open/b.txt"}) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "1: wrong finds, 3: could not drop root";
    }
    ::chmod(Raw(d + "/locked").constData(), 0755);
}

TEST(FindFile, HandlerErrorsAbortAndReentryIsIgnored)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (int i = 0; i < 10; ++i)
        Write(d + QString("/f%1.txt").arg(i));
    const QStringList oneFind{"folder", "found", "complete"};

    for (bool threaded : {false, true}) {
        const char *mode = threaded ? "threaded" : "synchronous";
        // A handler that throws ends the search quietly.
        Search thrown(d, threaded);
        thrown.ff.OnFound = [&](QObject *, const QString &, TSearchRec &) {
            thrown.events << "found";
            throw std::runtime_error("handler failed");
        };
        EXPECT_NO_THROW(thrown.Run());
        EXPECT_TRUE(thrown.ff.Aborted());
        EXPECT_EQ(thrown.events, oneFind) << mode;

        // Abort from a handler stops after the current entry; Execute inside is ignored.
        Search ab(d, threaded);
        ab.ff.OnFound = [&](QObject *, const QString &, TSearchRec &) {
            ab.events << "found";
            ab.ff.Execute();
            ab.ff.Abort();
        };
        EXPECT_TRUE(ab.Run().ff.Aborted());
        EXPECT_EQ(ab.events, oneFind) << mode;
        // The next search starts afresh.
        ab.ff.OnFound = nullptr;
        EXPECT_FALSE(ab.Run().ff.Aborted()) << mode;
    }
}

namespace {

// Notes the worker's priority at each folder, lowers it at the second, and skips d1.
class ProbedFindFile : public TFindFile {
public:
    QList<QThread::Priority> priorities;
    int asked = 0;

protected:
    bool DoNewFolder(const QString &folder) override
    {
        if (SearchThread())
            priorities << SearchThread()->priority();
        if (++asked == 2)
            setThreadPriority(tpLowest);
        return !folder.endsWith("/d1/") && TFindFile::DoNewFolder(folder);
    }
};

} // namespace

TEST(FindFileBackground, SameFindsOnTheWindowThreadThenComplete)
{
    Search sync(Tree("big"));
    sync.Run();
    Search bg(Tree("big"), true);
    bg.ff.Execute();
    EXPECT_TRUE(bg.ff.Busy());
    EXPECT_TRUE(bg.found.isEmpty());
    ASSERT_TRUE(WaitIdle(bg.ff));
    EXPECT_EQ(bg.found.size(), 1000);
    EXPECT_EQ(bg.found, sync.found);
    EXPECT_EQ(bg.events, sync.events); // one complete, last
    EXPECT_FALSE(bg.offWindowThread);
    EXPECT_FALSE(bg.busyAtComplete);
}

TEST(FindFileBackground, HandlerWithANestedLoopGetsNothingInside)
{
    Search s(Tree("big"), true);
    bool inside = false, reentered = false;
    s.ff.OnFound = [&](QObject *, const QString &, TSearchRec &rec) {
        reentered |= inside;
        s.found << rec.Name;
        s.events << "found";
        if (s.found.size() == 1) {
            // As a modal box would: the worker finishes the walk meanwhile.
            inside = true;
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
            inside = false;
        }
    };
    s.ff.OnComplete = [&](QObject *) {
        reentered |= inside;
        s.events << "complete";
    };
    s.ff.OnNewFolder = nullptr; // the worker runs to its end without waiting for answers
    s.Run();
    EXPECT_FALSE(reentered);
    EXPECT_EQ(s.found.size(), 1000);
    EXPECT_EQ(s.events.last(), "complete");
    EXPECT_EQ(s.Completes(), 1);
}

TEST(FindFileBackground, PriorityOverridesAndIgnoredFolders)
{
    // Without an OnNewFolder handler the overridden step is still asked.
    Search<ProbedFindFile> s(Tree("big"), true);
    s.ff.OnNewFolder = nullptr;
    s.ff.setThreadPriority(tpHigher);
    s.Run();
    ASSERT_GE(s.ff.priorities.size(), 3);
    EXPECT_EQ(s.ff.priorities[0], QThread::HighPriority);   // from the start
    EXPECT_EQ(s.ff.priorities[2], QThread::LowestPriority); // changed while running
    EXPECT_EQ(s.found.size(), 980);
    EXPECT_TRUE(s.found.filter("/d1/").isEmpty());
}

TEST(FindFileBackground, AbortReturnsAfterComplete)
{
    Search s(Tree("big"), true);
    s.ff.Execute();
    QElapsedTimer t;
    t.start();
    while (s.found.isEmpty() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    s.ff.Abort();
    EXPECT_EQ(s.Completes(), 1);
    EXPECT_EQ(s.events.last(), "complete");
    EXPECT_FALSE(s.ff.Busy());
    EXPECT_TRUE(s.ff.Aborted());
    const qsizetype count = s.found.size();
    EXPECT_LT(count, 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(s.found.size(), count);
}

TEST(FindFileBackground, DestroyedWhileSearchingRaisesNoEvent)
{
    // The worker waits for each folder's answer on this thread, so once this thread stops
    // answering the search is held, however fast the machine: the delete always comes first.
    for (int answered : {0, 1, 5}) {
        int events = 0, folders = 0, completes = 0;
        auto *ff = new TFindFile;
        ff->OnFound = [&](QObject *, const QString &, TSearchRec &) { ++events; };
        ff->OnNewFolder = [&](QObject *, const QString &, bool &) {
            ++events;
            ++folders;
        };
        ff->OnComplete = [&](QObject *) { ++completes; };
        ff->setLocation(Tree("big"));
        ff->setContaining("text");
        ff->setThreaded(true);
        ff->Execute();
        while (folders < answered)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        delete ff;
        const int atDelete = events;
        QCoreApplication::processEvents();
        QThread::msleep(20);
        QCoreApplication::processEvents();
        EXPECT_EQ(events, atDelete) << "answered " << answered;
        EXPECT_EQ(completes, 0) << "answered " << answered;
    }
}

TEST(FindFile, EachIncludeLineIsSearchedAndNamesComeInWindowsOrder)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    for (const char *f : {"zeta.ini", "alpha.ini", "Charlie.ini", "bravo.ini", "_x.ini", "b.txt", "A.txt"})
        Write(d + "/" + f);
    Search s;
    // Two masks in one folder, and the same folder again: each line is searched whole.
    s.ff.setIncludeFiles(QStringList{d + "/*.txt", d + "/*.ini", d + "/a*.ini"});
    s.Run();
    QStringList names;
    for (const QString &p : s.found)
        names << QFileInfo(p).fileName();
    EXPECT_EQ(names, (QStringList{"A.txt", "b.txt", "alpha.ini", "bravo.ini", "Charlie.ini", "zeta.ini", "_x.ini",
                                  "alpha.ini"}));
}
