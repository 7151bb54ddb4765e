#include "components/adpInstanceControl.h"
#include "platform/sharedblock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
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

// Each test run works below ROOT/<pid>; what a killed run left there is removed by the next.
QString Root()
{
    return QDir::tempPath() + QStringLiteral("/tavro-guard-tests");
}

QString ProgramName()
{
    return QStringLiteral("guardcopy");
}

void RemoveDeadRuns()
{
    QDir root(Root());
    for (const QString &run : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const pid_t pid = run.toInt();
        if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM))
            continue;
        QDir runDir(root.filePath(run));
        for (const QString &test : runDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString &copy : QDir(runDir.filePath(test)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                platform::SharedBlock::Remove(TadpInstanceControl::MappingNameFor(
                    runDir.filePath(test + QLatin1Char('/') + copy + QLatin1Char('/') + ProgramName())));
        runDir.removeRecursively();
    }
}

// One running copy of the helper program, read line by line.
class Copy {
public:
    Copy(const QString &program, const QStringList &args, const QProcessEnvironment &env)
    {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, args);
        m_process.waitForStarted(5000);
        m_pid = m_process.processId();
    }
    ~Copy()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // Kept, since QProcess forgets it once the copy has ended.
    qint64 Pid() const { return m_pid; }
    void Send(const char *command) { m_process.write(QByteArray(command) + '\n'); }

    // Waits for a line starting with PREFIX after the last one expected; returns it, or
    // an empty text when none came in time.
    QString Expect(const QString &prefix, int ms = 10000) { return ExpectOneOf({prefix}, ms); }
    QString ExpectOneOf(const QStringList &prefixes, int ms = 10000)
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
    bool Saw(const QString &line)
    {
        ReadMore(0);
        return m_lines.contains(line);
    }
    // The copy ended by itself with exit code 0.
    bool EndedCleanly(int ms = 10000)
    {
        const bool ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
        ReadMore(0);
        return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    void Kill()
    {
        ::kill(pid_t(Pid()), SIGKILL);
        m_process.waitForFinished(5000);
    }
    QString Count()
    {
        Send("count");
        return Expect(QStringLiteral("count "));
    }

private:
    bool ReadMore(int ms)
    {
        if (m_process.bytesAvailable() == 0 && m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(ms);
        if (m_process.bytesAvailable() == 0)
            return m_process.state() != QProcess::NotRunning;
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        return true;
    }

    QProcess m_process;
    QStringList m_lines;
    qsizetype m_cursor = 0;
    qint64 m_pid = 0;
};

class InstanceGuardProcesses : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveDeadRuns(); }

    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = Root() + QStringLiteral("/%1/%2").arg(::getpid()).arg(QString::fromLatin1(info->name()));
        QDir(m_dir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_dir + QStringLiteral("/runtime")));
        QFile::setPermissions(m_dir + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir + QStringLiteral("/runtime"));
    }

    void TearDown() override
    {
        m_copies.clear();
        for (const QString &program : m_programs)
            platform::SharedBlock::Remove(TadpInstanceControl::MappingNameFor(program));
        QDir(m_dir).removeRecursively();
        QDir().rmdir(QFileInfo(m_dir).path()); // the run's folder, once its last test is done
    }

    // The helper program installed in its own folder: each folder is another program path.
    QString Program(const QString &folder = QStringLiteral("a"))
    {
        const QString path = m_dir + QLatin1Char('/') + folder + QLatin1Char('/') + ProgramName();
        if (!m_programs.contains(path)) {
            QDir().mkpath(m_dir + QLatin1Char('/') + folder);
            EXPECT_TRUE(QFile::copy(QStringLiteral(TAVRO_TEST_HELPERS_DIR "/guardcopy"), path));
            m_programs << path;
        }
        return path;
    }

    Copy &Start(quint32 limit, bool enabled = true, const QString &folder = QStringLiteral("a"), bool wait = false)
    {
        QStringList args{QString::number(limit), enabled ? QStringLiteral("1") : QStringLiteral("0")};
        if (wait)
            args << QStringLiteral("wait");
        m_copies.push_back(std::make_unique<Copy>(Program(folder), args, m_env));
        return *m_copies.back();
    }

    bool Peek(View &view, const QString &folder = QStringLiteral("a"))
    {
        return platform::SharedBlock::Peek(TadpInstanceControl::MappingNameFor(Program(folder)), view);
    }

    static QString CountLine(quint32 count, qint64 pid) { return QStringLiteral("count %1 %2").arg(count).arg(pid); }

    QString m_dir;
    QProcessEnvironment m_env;
    QStringList m_programs;
    std::vector<std::unique_ptr<Copy>> m_copies;
};

} // namespace

TEST(InstanceGuard, MappingNameDropsBackslashesAndSpaces)
{
    const struct {
        const char *path, *name;
    } cases[] = {
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
        EXPECT_EQ(e.message(), QStringLiteral("Only one copy of this component can be dropped on a form!"));
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
    const QString base = QStringLiteral("/tavro-test-%1/").arg(::getpid());
    const QStringList names{base + QStringLiteral("a/b"), base + QStringLiteral("a%2Fb"), base + QStringLiteral("a_b"),
                            base + QString(600, QLatin1Char('x')) + QStringLiteral("1"),
                            base + QString(600, QLatin1Char('x')) + QStringLiteral("2")};
    std::vector<std::unique_ptr<platform::SharedBlock>> first, second;
    for (int i = 0; i < names.size(); ++i) {
        first.push_back(std::make_unique<platform::SharedBlock>(names[i]));
        bool existed = true;
        first.back()->Open([&](View *view, bool made) {
            ASSERT_NE(view, nullptr);
            existed = made;
            EXPECT_EQ(view->Count, 0u);
            *view = View{quint32(100 + i), quint32(i + 1)};
        });
        EXPECT_FALSE(existed) << i;
    }
    for (int i = 0; i < names.size(); ++i) {
        second.push_back(std::make_unique<platform::SharedBlock>(names[i]));
        second.back()->Open([&](View *view, bool existed) {
            ASSERT_NE(view, nullptr);
            EXPECT_TRUE(existed) << i;
            EXPECT_EQ(view->Handle, quint32(100 + i));
            EXPECT_EQ(view->Count, quint32(i + 1));
        });
    }
    for (int i = 0; i < names.size(); ++i) {
        View view{};
        first[i]->Close();
        EXPECT_TRUE(platform::SharedBlock::Peek(names[i], view)) << i;
        second[i]->Close();
        EXPECT_FALSE(platform::SharedBlock::Peek(names[i], view)) << i;
    }
}

// Threads stand in for copies here (each has its own handle, and the locks are per
// handle): with a limit of 3 never more than 3 hold a place at once, and every place
// taken is given back. Steps are slow on purpose, so that any overlap would show.
TEST(SharedBlock, ConcurrentCopiesNeitherPassTheLimitNorLoseUpdates)
{
    const QString name = QStringLiteral("/tavro-test-%1/race").arg(::getpid());
    constexpr quint32 limit = 3;
    constexpr int threads = 6, rounds = 150;
    const auto slowly = [] { std::this_thread::sleep_for(std::chrono::microseconds(20)); };

    // kept: a holder keeps the block, so its count can be read at the end; otherwise the
    // last one out keeps discarding it while others open it again.
    for (const bool kept : {true, false}) {
        platform::SharedBlock keeper(name);
        if (kept)
            keeper.Open([](View *, bool) {});
        std::atomic<int> inside{0}, most{0}, admitted{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                for (int r = 0; r < rounds; ++r) {
                    platform::SharedBlock block(name);
                    bool in = false;
                    block.Open([&](View *view, bool) {
                        const quint32 count = view->Count;
                        slowly();
                        if (count < limit) {
                            view->Count = count + 1;
                            in = true;
                        }
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
        if (kept) {
            ASSERT_TRUE(platform::SharedBlock::Peek(name, view));
            EXPECT_EQ(view.Count, 0u) << "updates were lost";
        } else {
            EXPECT_FALSE(platform::SharedBlock::Peek(name, view));
        }
        EXPECT_LE(most.load(), int(limit)) << "kept " << kept;
        EXPECT_GT(admitted.load(), 0);
    }
}

TEST_F(InstanceGuardProcesses, LimitOneBringsTheFirstCopyForward)
{
    Copy &first = Start(1);
    ASSERT_EQ(first.Expect(QStringLiteral("registered")), QStringLiteral("registered"));
    ASSERT_FALSE(first.Expect(QStringLiteral("shown")).isEmpty());
    first.Send("minimize");
    ASSERT_FALSE(first.Expect(QStringLiteral("minimized")).isEmpty());

    Copy &second = Start(1);
    EXPECT_EQ(second.Expect(QStringLiteral("event")), QStringLiteral("event %1").arg(first.Pid()));
    EXPECT_EQ(second.Expect(QStringLiteral("surplus")), QStringLiteral("surplus"));
    EXPECT_TRUE(second.EndedCleanly());
    EXPECT_FALSE(second.Saw(QStringLiteral("shown")));
    EXPECT_FALSE(first.Expect(QStringLiteral("restored")).isEmpty());
    EXPECT_FALSE(first.Expect(QStringLiteral("forward")).isEmpty());
    EXPECT_EQ(first.Count(), CountLine(1, first.Pid()));

    // Not minimised but behind another window: it is activated.
    first.Send("deactivate");
    ASSERT_FALSE(first.Expect(QStringLiteral("deactivated")).isEmpty());
    Copy &third = Start(1);
    EXPECT_TRUE(third.EndedCleanly());
    EXPECT_FALSE(third.Saw(QStringLiteral("shown")));
    EXPECT_FALSE(first.Expect(QStringLiteral("activated")).isEmpty());
    EXPECT_EQ(first.Count(), CountLine(1, first.Pid()));
}

TEST_F(InstanceGuardProcesses, LimitTwoBringsTheLastRegisteredForward)
{
    Copy &first = Start(2);
    ASSERT_FALSE(first.Expect(QStringLiteral("registered")).isEmpty());
    Copy &second = Start(2);
    ASSERT_FALSE(second.Expect(QStringLiteral("registered")).isEmpty());
    EXPECT_EQ(second.Count(), CountLine(2, second.Pid()));

    Copy &third = Start(2);
    EXPECT_EQ(third.Expect(QStringLiteral("event")), QStringLiteral("event %1").arg(second.Pid()));
    EXPECT_TRUE(third.EndedCleanly());
    EXPECT_FALSE(third.Saw(QStringLiteral("shown")));
    EXPECT_FALSE(second.Expect(QStringLiteral("forward")).isEmpty());
    EXPECT_EQ(first.Count(), CountLine(2, second.Pid()));
    EXPECT_FALSE(first.Saw(QStringLiteral("forward")));
}

TEST_F(InstanceGuardProcesses, NormalExitLetsTheNextStartRegisterFirst)
{
    Copy &first = Start(1);
    ASSERT_FALSE(first.Expect(QStringLiteral("registered")).isEmpty());
    first.Send("quit");
    EXPECT_TRUE(first.EndedCleanly());
    View view{};
    EXPECT_FALSE(Peek(view)) << "the block outlived every copy";

    Copy &next = Start(1);
    ASSERT_FALSE(next.Expect(QStringLiteral("registered")).isEmpty());
    EXPECT_EQ(next.Count(), CountLine(1, next.Pid()));
}

TEST_F(InstanceGuardProcesses, CopyDisabledAfterRegisteringStillWithdraws)
{
    Copy &staying = Start(2);
    ASSERT_FALSE(staying.Expect(QStringLiteral("registered")).isEmpty());
    Copy &leaving = Start(2);
    ASSERT_FALSE(leaving.Expect(QStringLiteral("registered")).isEmpty());
    leaving.Send("disable");
    leaving.Send("quit");
    EXPECT_TRUE(leaving.EndedCleanly());
    EXPECT_EQ(staying.Count(), CountLine(1, leaving.Pid()));
}

TEST_F(InstanceGuardProcesses, DisabledGuardCountsNothing)
{
    Copy &off = Start(1, false);
    ASSERT_FALSE(off.Expect(QStringLiteral("inactive")).isEmpty());
    ASSERT_FALSE(off.Expect(QStringLiteral("shown")).isEmpty());
    View view{};
    EXPECT_FALSE(Peek(view));

    Copy &on = Start(1);
    ASSERT_FALSE(on.Expect(QStringLiteral("registered")).isEmpty());
    Copy &offAgain = Start(1, false);
    ASSERT_FALSE(offAgain.Expect(QStringLiteral("shown")).isEmpty());
    EXPECT_EQ(on.Count(), CountLine(1, on.Pid()));
    EXPECT_FALSE(on.Saw(QStringLiteral("forward")));
}

TEST_F(InstanceGuardProcesses, CopyFromAnotherPathIsNotLimited)
{
    Copy &here = Start(1, true, QStringLiteral("a"));
    ASSERT_FALSE(here.Expect(QStringLiteral("registered")).isEmpty());
    Copy &there = Start(1, true, QStringLiteral("b"));
    ASSERT_FALSE(there.Expect(QStringLiteral("registered")).isEmpty());
    EXPECT_EQ(here.Count(), CountLine(1, here.Pid()));
    EXPECT_EQ(there.Count(), CountLine(1, there.Pid()));
}

// Copies released at the same instant: exactly LIMIT register, and none of their
// increments is lost.
TEST_F(InstanceGuardProcesses, SimultaneousStartsKeepTheLimit)
{
    const struct {
        int copies;
        quint32 limit;
    } rounds[] = {{8, 1}, {10, 4}};
    for (const auto &round : rounds) {
        m_copies.clear();
        std::vector<Copy *> copies;
        for (int i = 0; i < round.copies; ++i)
            copies.push_back(&Start(round.limit, true, QStringLiteral("a"), true));
        for (Copy *copy : copies)
            ASSERT_FALSE(copy->Expect(QStringLiteral("ready")).isEmpty());
        for (Copy *copy : copies)
            copy->Send("go");

        std::vector<Copy *> registered;
        int surplus = 0;
        for (Copy *copy : copies) {
            const QString outcome = copy->ExpectOneOf({QStringLiteral("registered"), QStringLiteral("surplus")});
            if (outcome == QLatin1String("registered"))
                registered.push_back(copy);
            else if (outcome == QLatin1String("surplus"))
                ++surplus;
        }
        EXPECT_EQ(registered.size(), size_t(round.limit)) << round.copies << " copies, limit " << round.limit;
        EXPECT_EQ(surplus, round.copies - int(round.limit));
        View view{};
        ASSERT_TRUE(Peek(view));
        EXPECT_EQ(view.Count, round.limit);

        for (Copy *copy : registered)
            copy->Send("quit");
        for (Copy *copy : registered)
            EXPECT_TRUE(copy->EndedCleanly());
        EXPECT_FALSE(Peek(view)) << "withdrawals were lost";
    }
}

TEST_F(InstanceGuardProcesses, KilledCopyDoesNotLockUsersOut)
{
    Copy &killed = Start(1);
    ASSERT_FALSE(killed.Expect(QStringLiteral("registered")).isEmpty());
    killed.Kill();
    Copy &next = Start(1);
    ASSERT_FALSE(next.Expect(QStringLiteral("registered")).isEmpty());
    EXPECT_EQ(next.Count(), CountLine(1, next.Pid()));

    // The handle left by a killed copy leads nowhere: the surplus copy just ends.
    Copy &last = Start(2);
    ASSERT_FALSE(last.Expect(QStringLiteral("registered")).isEmpty());
    last.Kill();
    Copy &surplus = Start(2);
    EXPECT_EQ(surplus.Expect(QStringLiteral("event")), QStringLiteral("event %1").arg(last.Pid()));
    EXPECT_TRUE(surplus.EndedCleanly(5000));
    EXPECT_FALSE(next.Saw(QStringLiteral("forward")));
}
