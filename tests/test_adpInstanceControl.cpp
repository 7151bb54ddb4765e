#include "components/adpInstanceControl.h"
#include "platform/sharedblock.h"
#include "tests/fixtures/TempEnv.h"
#include "tests/fixtures/TestAccounts.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>
#include <unistd.h>

// Readable QString values in assertion messages.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using View = platform::SharedBlock::View;

// Each test run works below Root()/<pid>/<test>/<folder>/guardcopy; what a killed run
// left there is removed by the next.
QString Root() { return QDir::tempPath() + "/tavro-guard-tests"; }

// Discards the blocks of the programs below DIR, then DIR itself.
void RemoveRun(const QString &dir)
{
    for (QDirIterator it(dir, {"guardcopy"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        platform::SharedBlock::Remove(TadpInstanceControl::MappingNameFor(it.next()));
    QDir(dir).removeRecursively();
}

void RemoveDeadRuns()
{
    QDir root(Root());
    for (const QString &run : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (const pid_t pid = run.toInt(); pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM))
            RemoveRun(root.filePath(run));
}

// One running copy of the helper program, read line by line.
class Copy : public QProcess {
public:
    Copy(const QString &program, const QStringList &args, const QProcessEnvironment &env,
         const std::function<void()> &inChild = {})
    {
        setProcessEnvironment(env);
        if (inChild)
            setChildProcessModifier(inChild);
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(program, args);
        waitForStarted(5000);
        m_pid = processId(); // kept: QProcess forgets it once the copy has ended
    }
    ~Copy() override
    {
        closeWriteChannel(); // the copy quits at the end of its input
        if (state() != NotRunning && !waitForFinished(3000))
            kill();
        waitForFinished(3000);
    }

    qint64 Pid() const { return m_pid; }
    void Send(const char *command) { write(QByteArray(command) + '\n'); }
    // The next line, after the last one expected, that starts with one of PREFIXES; an
    // empty text when none came in time.
    QString Next(const QStringList &prefixes, int ms = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            for (; m_cursor < m_lines.size(); ++m_cursor)
                for (const QString &prefix : prefixes)
                    if (m_lines[m_cursor].startsWith(prefix))
                        return m_lines[m_cursor++];
            if (timer.elapsed() > ms || !ReadMore(int(ms - timer.elapsed())))
                return {};
        }
    }
    bool Says(const QString &prefix) { return !Next({prefix}).isEmpty(); }
    // Whether the copy has said LINE so far.
    bool Said(const QString &line) { ReadMore(0); return m_lines.contains(line); }
    QString Count()
    {
        Send("count");
        return Next({"count "});
    }
    // The copy ended by itself with exit code 0.
    bool EndedCleanly(int ms = 10000)
    {
        const bool ended = state() == NotRunning || waitForFinished(ms);
        ReadMore(0);
        return ended && exitStatus() == NormalExit && exitCode() == 0;
    }
    void Kill()
    {
        ::kill(pid_t(m_pid), SIGKILL);
        waitForFinished(5000);
    }

private:
    // Takes in what the copy wrote, waiting up to MS for a line; false when none came.
    bool ReadMore(int ms)
    {
        const bool more = canReadLine() || waitForReadyRead(ms);
        while (canReadLine())
            m_lines << QString::fromUtf8(readLine()).trimmed();
        return more;
    }

    QStringList m_lines;
    qsizetype m_cursor = 0;
    qint64 m_pid = 0;
};

QString CountLine(quint32 count, const Copy &last) { return QString("count %1 %2").arg(count).arg(last.Pid()); }
QString EventLine(const Copy &last) { return QString("event %1").arg(last.Pid()); }

class InstanceGuardProcesses : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveDeadRuns(); }

    void SetUp() override
    {
        const char *test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = Root() + QString("/%1/%2").arg(::getpid()).arg(test);
        QDir(m_dir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_dir + "/runtime"));
        QFile::setPermissions(m_dir + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        m_env.insert("XDG_RUNTIME_DIR", m_dir + "/runtime");
        // This process looks at the copies' blocks, so it uses their runtime folder too.
        m_ownRuntime.emplace("XDG_RUNTIME_DIR", QFile::encodeName(m_dir + "/runtime"));
    }

    void TearDown() override
    {
        m_copies.clear();
        RemoveRun(m_dir);
        m_ownRuntime.reset();
        QDir().rmdir(QFileInfo(m_dir).path()); // the run's folder, once its last test is done
    }

    // A copy of the helper program installed in FOLDER: each folder is another program path.
    Copy &Start(quint32 limit, bool enabled = true, const QString &folder = "a", bool wait = false,
                const QProcessEnvironment *env = nullptr, const std::function<void()> &inChild = {})
    {
        const QString program = m_dir + "/" + folder + "/guardcopy";
        if (!QFile::exists(program)) {
            QDir().mkpath(m_dir + "/" + folder);
            EXPECT_TRUE(QFile::copy(TAVRO_TEST_HELPERS_DIR "/guardcopy", program));
        }
        QStringList args{QString::number(limit), enabled ? "1" : "0"};
        if (wait)
            args << "wait";
        m_copies.push_back(std::make_unique<Copy>(program, args, env ? *env : m_env, inChild));
        return *m_copies.back();
    }
    Copy &Registered(quint32 limit, const QString &folder = "a")
    {
        Copy &copy = Start(limit, true, folder);
        EXPECT_TRUE(copy.Says("registered")) << "limit " << limit << " in " << folder.toStdString();
        return copy;
    }
    // The block of the program in folder "a", while a live copy holds it.
    std::optional<View> Block()
    {
        View view{};
        const QString name = TadpInstanceControl::MappingNameFor(m_dir + "/a/guardcopy");
        return platform::SharedBlock::Peek(name, view) ? std::optional(view) : std::nullopt;
    }

    QString m_dir;
    QProcessEnvironment m_env;
    std::optional<ScopedEnv> m_ownRuntime;
    std::vector<std::unique_ptr<Copy>> m_copies;
};

} // namespace

TEST(InstanceGuard, MappingNameDropsBackslashesAndSpaces)
{
    const struct { const char *path, *name; } cases[] = {
        {"C:\\Program Files\\Tools\\app.exe", "C:ProgramFilesToolsapp.exe"},
        {"/opt/Tavro Login/bin/tavrologin", "/opt/TavroLogin/bin/tavrologin"},
        {"/usr/bin/tavrologin", "/usr/bin/tavrologin"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TadpInstanceControl::MappingNameFor(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
}

TEST(InstanceGuard, OnlyOneGuardPerProgram)
{
    QObject owner;
    auto *first = new TadpInstanceControl(&owner);
    EXPECT_TRUE(first->Enabled());
    EXPECT_EQ(first->MaxInstances(), 1u);
    try {
        new TadpInstanceControl(&owner);
        FAIL() << "a second guard was made";
    } catch (const EInstanceControl &e) {
        EXPECT_EQ(e.message(), "Only one copy of this component can be dropped on a form!");
    }
    EXPECT_EQ(owner.children().size(), 1);
    delete first;
    // Once the first is gone another may be placed.
    EXPECT_NO_THROW(delete new TadpInstanceControl(&owner));
}

// The block's own rules, in one process: two holders of one name see each other's
// values; distinct names that a naive mapping would merge stay apart; the last holder
// to let go discards the block.
TEST(SharedBlock, HoldersShareOneBlockPerName)
{
    const QString base = QString("/tavro-test-%1/").arg(::getpid());
    const QStringList names{base + "a/b", base + "a%2Fb", base + "a_b", base + QString(600, 'x') + "1",
                            base + QString(600, 'x') + "2"};
    std::vector<std::unique_ptr<platform::SharedBlock>> first;
    for (quint32 i = 0; i < quint32(names.size()); ++i) {
        first.push_back(std::make_unique<platform::SharedBlock>(names[i]));
        first.back()->Open([&](View *view, bool existed) {
            ASSERT_NE(view, nullptr);
            EXPECT_FALSE(existed) << i;
            EXPECT_EQ(view->Count, 0u);
            *view = View{100 + i, i + 1};
        });
    }
    for (quint32 i = 0; i < quint32(names.size()); ++i) {
        platform::SharedBlock second(names[i]);
        second.Open([&](View *view, bool existed) {
            ASSERT_NE(view, nullptr);
            EXPECT_TRUE(existed) << i;
            EXPECT_EQ(view->Handle, 100 + i);
            EXPECT_EQ(view->Count, i + 1);
        });
        View view{};
        first[i]->Close();
        EXPECT_TRUE(platform::SharedBlock::Peek(names[i], view)) << i;
        second.Close();
        EXPECT_FALSE(platform::SharedBlock::Peek(names[i], view)) << i;
    }
}

// Threads stand in for copies here (each has its own handle, and the locks are per
// handle): with a limit of 3 never more than 3 hold a place at once, and every place
// taken is given back. Steps are slow on purpose, so that any overlap would show.
TEST(SharedBlock, ConcurrentCopiesNeitherPassTheLimitNorLoseUpdates)
{
    const QString name = QString("/tavro-test-%1/race").arg(::getpid());
    constexpr quint32 limit = 3;
    const auto slowly = [] { std::this_thread::sleep_for(std::chrono::microseconds(20)); };

    // kept: a holder keeps the block, so its count can be read at the end; otherwise the
    // last one out keeps discarding it while others open it again.
    for (const bool kept : {true, false}) {
        platform::SharedBlock keeper(name);
        if (kept)
            keeper.Open([](View *, bool) {});
        std::atomic<int> inside{0}, most{0}, admitted{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 6; ++t)
            workers.emplace_back([&] {
                for (int r = 0; r < 150; ++r) {
                    platform::SharedBlock block(name);
                    bool in = false;
                    block.Open([&](View *view, bool) {
                        const quint32 count = view->Count;
                        slowly();
                        in = count < limit;
                        view->Count = count + in;
                    });
                    if (!in)
                        continue;
                    ++admitted;
                    const int now = ++inside;
                    for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                    }
                    std::this_thread::yield();
                    --inside;
                    block.Update([&](View *view) {
                        const quint32 count = view->Count;
                        slowly();
                        view->Count = count - 1;
                    });
                }
            });
        for (auto &worker : workers)
            worker.join();

        View view{};
        EXPECT_EQ(platform::SharedBlock::Peek(name, view), kept);
        EXPECT_EQ(view.Count, 0u) << "updates were lost";
        EXPECT_LE(most.load(), int(limit)) << "kept " << kept;
        EXPECT_GT(admitted.load(), 0);
    }
}

TEST_F(InstanceGuardProcesses, LimitOneBringsTheFirstCopyForward)
{
    Copy &first = Registered(1);
    ASSERT_TRUE(first.Says("shown"));
    first.Send("minimize");
    ASSERT_TRUE(first.Says("minimized"));

    // The surplus copy ends without a window; the first is restored and brought forward.
    Copy &second = Start(1);
    EXPECT_EQ(second.Next({"event"}), EventLine(first));
    EXPECT_TRUE(second.Says("surplus"));
    EXPECT_TRUE(second.EndedCleanly());
    EXPECT_FALSE(second.Said("shown"));
    EXPECT_TRUE(first.Says("restored") && first.Says("forward"));
    EXPECT_EQ(first.Count(), CountLine(1, first));

    // Not minimised but behind another window: it is activated.
    first.Send("deactivate");
    ASSERT_TRUE(first.Says("deactivated"));
    Copy &third = Start(1);
    EXPECT_TRUE(third.EndedCleanly());
    EXPECT_FALSE(third.Said("shown"));
    EXPECT_TRUE(first.Says("activated"));
    EXPECT_EQ(first.Count(), CountLine(1, first));
}

// With limit 2 the last copy registered is brought forward. A copy that leaves gives its
// place back, even when its guard was disabled after it registered; the block goes with
// the last copy, and the next start registers afresh.
TEST_F(InstanceGuardProcesses, LimitTwoThenCopiesLeaving)
{
    Copy &first = Registered(2);
    Copy &second = Registered(2);
    EXPECT_EQ(second.Count(), CountLine(2, second));
    Copy &third = Start(2);
    EXPECT_EQ(third.Next({"event"}), EventLine(second));
    EXPECT_TRUE(third.EndedCleanly());
    EXPECT_FALSE(third.Said("shown"));
    EXPECT_TRUE(second.Says("forward"));
    EXPECT_EQ(first.Count(), CountLine(2, second));
    EXPECT_FALSE(first.Said("forward"));

    second.Send("disable");
    second.Send("quit");
    EXPECT_TRUE(second.EndedCleanly());
    EXPECT_EQ(first.Count(), CountLine(1, second));
    first.Send("quit");
    EXPECT_TRUE(first.EndedCleanly());
    EXPECT_FALSE(Block()) << "the block outlived every copy";
    Copy &next = Registered(1);
    EXPECT_EQ(next.Count(), CountLine(1, next));
}

// Neither a disabled guard nor a copy from another path counts against the limit.
TEST_F(InstanceGuardProcesses, DisabledGuardsAndOtherPathsAreNotCounted)
{
    Copy &off = Start(1, false);
    ASSERT_TRUE(off.Says("inactive") && off.Says("shown"));
    EXPECT_FALSE(Block());
    Copy &on = Registered(1);
    ASSERT_TRUE(Start(1, false).Says("shown"));
    Copy &there = Registered(1, "b");
    ASSERT_TRUE(there.Says("shown"));
    EXPECT_EQ(on.Count(), CountLine(1, on));
    EXPECT_EQ(there.Count(), CountLine(1, there));
    EXPECT_FALSE(on.Said("forward"));
}

// Copies released at the same instant: exactly LIMIT register, and none of their
// increments or decrements is lost.
TEST_F(InstanceGuardProcesses, SimultaneousStartsKeepTheLimit)
{
    for (const auto &[copies, limit] : {std::pair{8, 1u}, std::pair{10, 4u}}) {
        m_copies.clear();
        for (int i = 0; i < copies; ++i)
            ASSERT_TRUE(Start(limit, true, "a", true).Says("ready"));
        for (const auto &copy : m_copies)
            copy->Send("go");

        std::vector<Copy *> registered;
        int surplus = 0;
        for (const auto &copy : m_copies) {
            const QString outcome = copy->Next({"registered", "surplus"});
            if (outcome == "registered")
                registered.push_back(copy.get());
            surplus += outcome == "surplus";
        }
        EXPECT_EQ(registered.size(), size_t(limit)) << copies << " copies, limit " << limit;
        EXPECT_EQ(surplus, copies - int(limit));
        ASSERT_TRUE(Block());
        EXPECT_EQ(Block()->Count, limit);

        for (Copy *copy : registered)
            copy->Send("quit");
        for (Copy *copy : registered)
            EXPECT_TRUE(copy->EndedCleanly());
        EXPECT_FALSE(Block()) << "withdrawals were lost";
    }
}

// A hundred starts of the real program at once (a login script started twice, a user
// clicking the icon repeatedly): exactly one stays, and none of the others hangs.
TEST_F(InstanceGuardProcesses, AHundredStartsOfTheProgramLeaveExactlyOne)
{
    QProcessEnvironment env = m_env;
    QTemporaryDir home;
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_DATA_HOME", home.path() + "/data");
    env.insert("TAVROLOGIN_COMMON_APPDATA", home.path() + "/common");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < 100; ++i) {
        copies.push_back(std::make_unique<QProcess>());
        copies.back()->setProcessEnvironment(env);
        copies.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        copies.back()->start(TAVRO_BINARY_DIR "/app/tavrologin", QStringList{});
    }
    QElapsedTimer clock;
    clock.start();
    const auto running = [&] {
        return std::count_if(copies.begin(), copies.end(), [](const auto &p) {
            p->waitForFinished(0);
            return p->state() != QProcess::NotRunning;
        });
    };
    while (running() > 1 && clock.elapsed() < 60000)
        QThread::msleep(50);
    EXPECT_EQ(running(), 1) << "after " << clock.elapsed() << " ms";
    int surplusEndedWell = 0;
    for (const auto &p : copies)
        surplusEndedWell += p->state() == QProcess::NotRunning && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0;
    EXPECT_EQ(surplusEndedWell, 99);
    std::printf("100 simultaneous starts: one left running after %lld ms\n", clock.elapsed());
    for (const auto &p : copies) {
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            EXPECT_TRUE(p->waitForFinished(5000));
            EXPECT_EQ(p->exitCode(), 0);
        }
    }
}

TEST_F(InstanceGuardProcesses, KilledCopyDoesNotLockUsersOut)
{
    Registered(1).Kill();
    Copy &next = Registered(1);
    EXPECT_EQ(next.Count(), CountLine(1, next));

    // The handle left by a killed copy leads nowhere: the surplus copy just ends.
    Copy &last = Registered(2);
    last.Kill();
    Copy &surplus = Start(2);
    EXPECT_EQ(surplus.Next({"event"}), EventLine(last));
    EXPECT_TRUE(surplus.EndedCleanly(5000));
    EXPECT_FALSE(next.Said("forward"));
}

namespace {

// The names the guard's objects had in the machine-wide shared-memory folder.
QByteArray OldObjectPath(uid_t victim, const QString &blockName)
{
    QByteArray escaped;
    for (char c : blockName.toUtf8())
        escaped += c == '%' ? QByteArray("%25") : c == '/' ? QByteArray("%2F") : QByteArray(1, c);
    return "/dev/shm/tavro." + QByteArray::number(victim) + '.' + escaped;
}

// Another user, in a child process, takes every name first: the block with a count of 1
// and the lock file held, both open to everyone, and FOLDERS (those a copy without a
// runtime folder would use). Killed when it goes.
class Squatter {
public:
    Squatter(const TestAccount &squatter, uid_t victim, const QString &blockName, const QList<QByteArray> &folders)
    {
        const QByteArray block = OldObjectPath(victim, blockName);
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            if (!BecomeAccount(squatter))
                ::_exit(3);
            ::umask(0);
            for (const QByteArray &folder : folders)
                ::mkdir(folder.constData(), 0777);
            const int b = ::open(block.constData(), O_RDWR | O_CREAT, 0666);
            const int l = ::open((block + ".lock").constData(), O_RDWR | O_CREAT, 0666);
            const quint32 view[2] = {12345, 1};
            if (b < 0 || l < 0 || ::write(b, view, sizeof view) != sizeof view || ::flock(l, LOCK_EX) != 0 ||
                ::flock(b, LOCK_SH) != 0)
                ::_exit(4);
            if (::write(ready[1], "k", 1) != 1)
                ::_exit(5);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char c = 0;
        m_ready = m_pid > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~Squatter()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ready() const { return m_ready; }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};

void RemoveAs(const QByteArray &path)
{
    QDir(QFile::decodeName(path)).removeRecursively();
    QFile::remove(QFile::decodeName(path));
}

} // namespace

// Another local user who takes every name first neither locks a copy out nor makes it
// count wrong: with the session's runtime folder, and without one.
TEST_F(InstanceGuardProcesses, AnotherUserSquattingEveryNameLocksNobodyOut)
{
    const TestAccount squatter = EnsureTestAccount("hdsquatter");
    ASSERT_TRUE(squatter.valid) << qPrintable(squatter.error);
    const TestAccount victim = EnsureTestAccount("hdvictim");
    ASSERT_TRUE(victim.valid) << qPrintable(victim.error);
    const QString name = TadpInstanceControl::MappingNameFor(m_dir + "/a/guardcopy");
    // Other users must reach the program.
    for (QString dir = m_dir; dir.startsWith(Root()); dir = QFileInfo(dir).path())
        ::chmod(QFile::encodeName(dir).constData(), 0755);

    // The private folders the victim falls back to without a runtime folder.
    const QList<QByteArray> victimFolders{"/dev/shm/tavro-" + QByteArray::number(victim.uid),
                                          "/tmp/tavro-" + QByteArray::number(victim.uid), "/tmp/runtime-hdvictim"};
    const auto cleanOldNames = [&](uid_t uid, const QList<QByteArray> &folders) {
        const QByteArray block = OldObjectPath(uid, name);
        for (const QByteArray &path : QList<QByteArray>{block, block + ".lock"} + folders)
            RemoveAs(path);
    };

    {
        SCOPED_TRACE("this user, with a runtime folder");
        cleanOldNames(::geteuid(), {});
        Squatter squat(squatter, ::geteuid(), name, {});
        ASSERT_TRUE(squat.Ready());
        Copy &first = Registered(1);
        EXPECT_EQ(first.Count(), CountLine(1, first));
        Copy &second = Start(1);
        EXPECT_TRUE(second.Says("surplus"));
        EXPECT_TRUE(second.EndedCleanly());
        EXPECT_TRUE(first.Says("forward"));
        EXPECT_EQ(first.Count(), CountLine(1, first));
        m_copies.clear();
        cleanOldNames(::geteuid(), {});
    }
    {
        SCOPED_TRACE("another user, without a runtime folder");
        cleanOldNames(victim.uid, victimFolders);
        // Short: the copies' sockets go below it.
        QTemporaryDir homeDir(QDir::tempPath() + "/hdvXXXXXX");
        const QString home = homeDir.path();
        ::chmod(QFile::encodeName(home).constData(), 0700);
        ASSERT_EQ(::chown(QFile::encodeName(home).constData(), victim.uid, victim.gid), 0);
        QProcessEnvironment env = m_env;
        env.remove("XDG_RUNTIME_DIR");
        env.remove("XDG_CACHE_HOME");
        env.insert("HOME", home);
        const auto become = [victim] {
            if (!BecomeAccount(victim))
                ::_exit(3);
        };
        Squatter squat(squatter, victim.uid, name, victimFolders);
        ASSERT_TRUE(squat.Ready());
        Copy &first = Start(1, true, "a", false, &env, become);
        EXPECT_TRUE(first.Says("registered"));
        EXPECT_EQ(first.Count(), CountLine(1, first));
        Copy &second = Start(1, true, "a", false, &env, become);
        EXPECT_TRUE(second.Says("surplus"));
        EXPECT_TRUE(second.EndedCleanly());
        EXPECT_TRUE(first.Says("forward"));
        EXPECT_EQ(first.Count(), CountLine(1, first));
        // The squatter's folders were refused; the copies used the user's own.
        EXPECT_TRUE(QFileInfo(home + "/.cache/tavrologin").isDir());
        m_copies.clear();
        cleanOldNames(victim.uid, victimFolders);
    }
}
