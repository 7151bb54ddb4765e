// The Windows process backend and the launcher and instance guard on top of it, against
// Windows' own process functions (Wine's when cross-built).
#include "components/Appexec.h"
#include "components/adpInstanceControl.h"
#include "platform/process.h"
#include "platform/sharedblock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// windows.h turns these names into macros, so the backend's values are taken first.
constexpr quint32 kStillActive = platform::STILL_ACTIVE;
constexpr quint32 kFileNotFound = platform::ERROR_FILE_NOT_FOUND;
constexpr quint32 kInvalidHandle = platform::ERROR_INVALID_HANDLE;
constexpr quint32 kTooLong = platform::ERROR_FILENAME_EXCED_RANGE;
constexpr quint32 kNormalPriority = platform::NORMAL_PRIORITY_CLASS;
constexpr quint32 kIdlePriority = platform::IDLE_PRIORITY_CLASS;
constexpr int kShowNormal = 1;

// About two seconds of a program that ends by itself; Wine has no timeout.exe.
const QString kSlowCommand = QStringLiteral("cmd /c ping -n 3 127.0.0.1 >nul");

} // namespace

#include <windows.h>
#undef GetCommandLine

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool WriteAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// CPU time this process has used, in milliseconds.
qint64 OwnCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    const auto ms = [](const FILETIME &t) {
        return qint64((quint64(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000);
    };
    return ms(kernel) + ms(user);
}

// Every launcher run changes the current folder; each test puts it back.
class WindowsLauncher : public ::testing::Test {
protected:
    void TearDown() override { QDir::setCurrent(m_saved); }

private:
    QString m_saved = QDir::currentPath();
};

} // namespace

TEST(WindowsProcess, StartsWaitsAndReportsWhatWindowsReports)
{
    // The exit code comes back through the wait.
    platform::ProcessHandle handle = 0;
    ASSERT_EQ(platform::StartProcess(QStringLiteral("cmd /c exit 3"), QString(), kShowNormal, kNormalPriority, false,
                                     handle),
              0u);
    ASSERT_NE(handle, 0);
    platform::WaitForProcessDispatching(handle);
    EXPECT_EQ(platform::GetExitCodeProcess(handle), 3u);
    quint32 code = 0;
    EXPECT_EQ(platform::QueryExitCode(handle, code), 0u);
    EXPECT_EQ(code, 3u);
    platform::CloseProcessHandle(handle);

    // While a program runs: still active, and the window loop keeps turning during the
    // wait without the wait spinning. (Wine ignores the priority class of CreateProcess,
    // so it is passed but not looked at here.)
    ASSERT_EQ(platform::StartProcess(kSlowCommand, QString(), kShowNormal, kIdlePriority, false, handle), 0u);
    EXPECT_EQ(platform::GetExitCodeProcess(handle), kStillActive);
    int ticks = 0;
    quint32 seenDuringWait = 0;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 1)
            seenDuringWait = platform::GetExitCodeProcess(handle);
    });
    timer.start();
    QElapsedTimer clock;
    clock.start();
    const qint64 cpuBefore = OwnCpuMs();
    platform::WaitForProcessDispatching(handle);
    const qint64 waited = clock.elapsed();
    const qint64 cpu = OwnCpuMs() - cpuBefore;
    timer.stop();
    EXPECT_GE(waited, 1000);
    EXPECT_EQ(seenDuringWait, kStillActive);
    EXPECT_GE(ticks, 5) << "in " << waited << " ms";
    EXPECT_LT(cpu, waited / 2) << "ms of CPU in a wait of " << waited << " ms";
    EXPECT_EQ(platform::GetExitCodeProcess(handle), 0u);
    platform::CloseProcessHandle(handle);

    // The current folder argument is the program's; ours stays.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString own = QDir::currentPath();
    ASSERT_EQ(platform::StartProcess(QStringLiteral("cmd /c cd > where.txt"), Native(dir.path()), kShowNormal,
                                     kNormalPriority, false, handle),
              0u);
    platform::WaitForProcessDispatching(handle);
    EXPECT_EQ(platform::GetExitCodeProcess(handle), 0u);
    platform::CloseProcessHandle(handle);
    const QString where = QString::fromLocal8Bit(ReadAll(dir.filePath(QStringLiteral("where.txt")))).trimmed();
    EXPECT_EQ(QFileInfo(where).canonicalFilePath().toLower(), QFileInfo(dir.path()).canonicalFilePath().toLower())
        << qPrintable(where);
    EXPECT_EQ(QDir::currentPath(), own);

    // Failures give Windows' codes and no handle.
    handle = 1;
    EXPECT_EQ(platform::StartProcess(QStringLiteral("tavro-no-such-program.exe /x"), QString(), kShowNormal,
                                     kNormalPriority, false, handle),
              kFileNotFound);
    EXPECT_EQ(handle, 0);
    handle = 1;
    EXPECT_EQ(platform::StartProcess(QStringLiteral("  \t"), QString(), kShowNormal, kNormalPriority, false, handle),
              kFileNotFound);
    EXPECT_EQ(handle, 0);
    handle = 1;
    EXPECT_EQ(platform::StartProcess(QStringLiteral("cmd /c exit ") + QString(platform::MaxCommandLineLength, u'0'),
                                     QString(), kShowNormal, kNormalPriority, false, handle),
              kTooLong);
    EXPECT_EQ(handle, 0);
    handle = 1;
    EXPECT_NE(platform::StartProcess(QStringLiteral("cmd /c exit 0"), Native(dir.filePath(QStringLiteral("missing"))),
                                     kShowNormal, kNormalPriority, false, handle),
              0u);
    EXPECT_EQ(handle, 0);
}

TEST(WindowsProcess, BatchFileStartedByItsTypeIsWaitedFor)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString batch = Native(dir.filePath(QStringLiteral("logon script.bat")));
    ASSERT_TRUE(WriteAll(batch, "@echo off\r\necho done> \"%~dp0made.txt\"\r\nexit 7\r\n"));
    platform::ProcessHandle handle = 0;
    ASSERT_EQ(platform::ShellExecuteFile(batch, handle), 0u);
    ASSERT_NE(handle, 0);
    platform::WaitForProcessDispatching(handle);
    EXPECT_EQ(platform::GetExitCodeProcess(handle), 7u);
    platform::CloseProcessHandle(handle);
    EXPECT_EQ(ReadAll(dir.filePath(QStringLiteral("made.txt"))).trimmed(), QByteArray("done"));

    // No error box of the shell's: the code comes back instead.
    handle = 1;
    EXPECT_EQ(platform::ShellExecuteFile(Native(dir.filePath(QStringLiteral("missing.bat"))), handle), kFileNotFound);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(platform::ShellExecuteFile(QString(), handle), kFileNotFound);
}

TEST(WindowsProcess, OnlyHandlesStillHeldAreLookedAt)
{
    quint32 code = 12345;
    EXPECT_EQ(platform::GetExitCodeProcess(0), 0xFFFFFFFFu);
    EXPECT_EQ(platform::QueryExitCode(0, code), kInvalidHandle);
    EXPECT_EQ(code, 12345u);
    platform::WaitForProcessDispatching(0); // returns at once

    // Windows handles that are not ours: this process itself, and an event.
    const auto self = platform::ProcessHandle(reinterpret_cast<quintptr>(GetCurrentProcess()));
    EXPECT_EQ(platform::QueryExitCode(self, code), kInvalidHandle);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    const auto foreign = platform::ProcessHandle(reinterpret_cast<quintptr>(event));
    EXPECT_EQ(platform::GetExitCodeProcess(foreign), 0xFFFFFFFFu);
    platform::WaitForProcessDispatching(foreign);
    platform::CloseProcessHandle(foreign);
    EXPECT_TRUE(SetEvent(event)) << "the event was closed";
    CloseHandle(event);

    // A closed handle is unknown from then on, and closing it again does nothing.
    platform::ProcessHandle handle = 0;
    ASSERT_EQ(platform::StartProcess(QStringLiteral("cmd /c exit 4"), QString(), kShowNormal, kNormalPriority, false,
                                     handle),
              0u);
    platform::WaitForProcessDispatching(handle);
    platform::CloseProcessHandle(handle);
    EXPECT_EQ(platform::GetExitCodeProcess(handle), 0xFFFFFFFFu);
    EXPECT_EQ(platform::QueryExitCode(handle, code), kInvalidHandle);
    platform::WaitForProcessDispatching(handle);
    platform::CloseProcessHandle(handle);

    // Closed by a handler during the wait: the wait still lasts until the program ends.
    ASSERT_EQ(platform::StartProcess(kSlowCommand, QString(), kShowNormal, kNormalPriority, false, handle), 0u);
    QTimer::singleShot(100, [handle] { platform::CloseProcessHandle(handle); });
    QElapsedTimer clock;
    clock.start();
    platform::WaitForProcessDispatching(handle);
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_EQ(platform::GetExitCodeProcess(handle), 0xFFFFFFFFu);
}

TEST_F(WindowsLauncher, LauncherRunsWindowsCommandLinesAndWaits)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = Native(dir.path()) + u'\\';

    // Waited for in its own console, in ExePath, with the exit code as ErrNo.
    TAppExec app;
    app.setExeName(QStringLiteral("cmd"));
    app.setExeParams({QStringLiteral("/c"), QStringLiteral("exit"), QStringLiteral("4")});
    app.setExePath(path);
    app.setWait(true);
    EXPECT_EQ(app.GetCommandLine(), QStringLiteral("cmd /c exit 4"));
    app.Execute();
    EXPECT_EQ(app.ErrNo(), 4u);
    EXPECT_EQ(QFileInfo(QDir::currentPath()).canonicalFilePath(), QFileInfo(dir.path()).canonicalFilePath());

    // A bare name finds the batch file of that name in ExePath; its words arrive as given.
    ASSERT_TRUE(WriteAll(dir.filePath(QStringLiteral("tool.bat")), "@echo off\r\necho %1 %2> args.txt\r\nexit 5\r\n"));
    app.setExeName(QStringLiteral("tool"));
    app.setExeParams({QStringLiteral("a"), QStringLiteral("\"b c\"")});
    app.setPriorityClass(pcIdle);
    app.Execute();
    EXPECT_EQ(app.ErrNo(), 5u);
    EXPECT_EQ(ReadAll(dir.filePath(QStringLiteral("args.txt"))).trimmed(), QByteArray("a \"b c\""));

    // Output captured through the generated batch file, which is gone afterwards.
    app.setPriorityClass(pcNormal);
    app.setRedirectOutput(true);
    app.setExeName(QStringLiteral("echo"));
    app.setExeParams({QStringLiteral("kept")});
    app.Execute();
    EXPECT_EQ(app.ErrNo(), 0u);
    ASSERT_EQ(app.Output().size(), 1) << qPrintable(app.Output().join(u'|'));
    // cmd keeps the blank before the redirection.
    EXPECT_EQ(app.Output()[0].trimmed(), QStringLiteral("kept"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("test_process_win.bat"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("test_process_win.out"))));
    app.setRedirectOutput(false);

    // A program that is not there raises with Windows' code and the table's text.
    app.setExeName(QStringLiteral("tavro-no-such-program.exe"));
    app.setExeParams({});
    try {
        app.Execute();
        ADD_FAILURE() << "no exception";
    } catch (const EAppExecWinExec &e) {
        EXPECT_EQ(e.message(), QStringLiteral("File was not found"));
    }
    EXPECT_EQ(app.ErrNo(), kFileNotFound);
}

TEST(WindowsInstanceGuard, SecondCopyOfTheProgramEndsAndTheFirstStays)
{
    const QString program = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../app/tavrologin.exe"));
    ASSERT_TRUE(QFileInfo::exists(program)) << qPrintable(program);
    QTemporaryDir common;
    ASSERT_TRUE(common.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The program carries Qt's Windows platform only, which runs headless under Wine too.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("TAVROLOGIN_COMMON_APPDATA"), Native(common.path()));
    const QString block = TadpInstanceControl::MappingNameFor(Native(program));
    platform::SharedBlock::View view {};

    QProcess first;
    first.setProcessEnvironment(env);
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(program, QStringList());
    ASSERT_TRUE(first.waitForStarted(10000));
    QElapsedTimer clock;
    clock.start();
    while (!platform::SharedBlock::Peek(block, view) && first.state() == QProcess::Running && clock.elapsed() < 30000)
        QThread::msleep(100);
    ASSERT_TRUE(platform::SharedBlock::Peek(block, view)) << "the first copy never registered";
    EXPECT_EQ(view.Count, 1u);

    QProcess second;
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(program, QStringList());
    EXPECT_TRUE(second.waitForFinished(15000)) << "the second copy did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    ASSERT_TRUE(platform::SharedBlock::Peek(block, view));
    EXPECT_EQ(view.Count, 1u);

    // Once the first has gone, a new copy is the one that stays.
    first.kill();
    EXPECT_TRUE(first.waitForFinished(10000));
    QProcess next;
    next.setProcessEnvironment(env);
    next.setProcessChannelMode(QProcess::ForwardedChannels);
    next.start(program, QStringList());
    ASSERT_TRUE(next.waitForStarted(10000));
    clock.restart();
    while (!platform::SharedBlock::Peek(block, view) && next.state() == QProcess::Running && clock.elapsed() < 30000)
        QThread::msleep(100);
    EXPECT_TRUE(platform::SharedBlock::Peek(block, view)) << "the next copy never registered";
    EXPECT_FALSE(next.waitForFinished(2000)) << "the next copy ended with " << next.exitCode();
    next.kill();
    EXPECT_TRUE(next.waitForFinished(10000));
}
