#include "platform/process.h"
#include "tests/fixtures/ProcessFixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;

namespace {

// Starts a command line and waits for it; the exit code, or 0x80000000 + the start error.
quint32 RunAndWait(const QString &commandLine, const QString &folder = {}, quint32 priority = NORMAL_PRIORITY_CLASS,
            bool newConsole = false)
{
    ProcessHandle handle = 0;
    if (const quint32 err = StartProcess(commandLine, folder, 1, priority, newConsole, handle))
        return 0x80000000u | err;
    WaitForProcessDispatching(handle);
    const quint32 code = GetExitCodeProcess(handle);
    CloseProcessHandle(handle);
    return code;
}

} // namespace

TEST(Process, SplitsCommandLinesByTheWindowsRules)
{
    const struct {
        QString line;
        QStringList words;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"prog", {"prog"}},
        {"  prog  a   b ", {"prog", "a", "b"}},
        {"prog\ta\tb", {"prog", "a", "b"}},
        {R"("C:\Program Files\x.exe" arg)", {R"(C:\Program Files\x.exe)", "arg"}},
        // The program name takes no escapes: a backslash before its closing quote stays.
        {R"("C:\dir\" next)", {R"(C:\dir\)", "next"}},
        {R"(p "a b" c)", {"p", "a b", "c"}},
        {R"(p a"b c"d)", {"p", "ab cd"}},
        {R"(p "")", {"p", ""}},
        {R"(p "" "")", {"p", "", ""}},
        {R"(p \"a\")", {"p", R"("a")"}},
        {R"(p a\\b)", {"p", R"(a\\b)"}},
        {R"(p a\\"b c")", {"p", R"(a\b c)"}},
        {R"(p a\\\"b)", {"p", R"(a\"b)"}},
        {R"(p "a\\" b)", {"p", R"(a\)", "b"}},
        {R"(p "a""b" c)", {"p", R"(a"b c)"}},
        {R"(p """)", {"p", R"(")"}},
        {R"(p """" x)", {"p", R"(" x)"}},
        {R"(p "unterminated arg)", {"p", "unterminated arg"}},
        {R"(p \\server\share\file.bat)", {"p", R"(\\server\share\file.bat)"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line.toStdString();
}

TEST(Process, ReportsExitCodesAndRunsBatchFilesThroughTheShell)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bat = dir.filePath("job.bat");
    ASSERT_TRUE(fixtures::WriteFile(bat, "printf '%s|' \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 7\n"));
    const QString out = dir.filePath("args.txt");

    EXPECT_EQ(RunAndWait("/bin/sh -c \"exit 3\""), 3u);
    EXPECT_EQ(RunAndWait("sh -c \"exit 0\""), 0u) << "found on PATH";
    EXPECT_EQ(RunAndWait("sh -c \"kill -9 $$\""), 128u + 9u) << "killed by a signal";

    // Not executable, yet run: a .bat is a shell script here, its words its arguments.
    EXPECT_EQ(RunAndWait("\"" + bat + "\" one \"two words\" a\\\"q"), 7u);
    EXPECT_EQ(fixtures::ReadFile(out), "one|two words|a\"q|");

    // A bare name is looked for in the current folder before PATH.
    EXPECT_EQ(RunAndWait("JOB.bat x", dir.path()), 0x80000000u | ERROR_FILE_NOT_FOUND) << "names are case-sensitive here";
    EXPECT_EQ(RunAndWait("job.bat x", dir.path()), 7u);
    EXPECT_EQ(fixtures::ReadFile(out), "x|");
}

TEST(Process, StartFailuresGiveWindowsCodesAndThePlatformsText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(fixtures::WriteFile(dir.filePath("garbage"), "\x01\x02\x03 not a program", true));
    ASSERT_TRUE(fixtures::WriteFile(dir.filePath("plain"), "#!/bin/sh\nexit 0\n", false));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));

    const struct {
        QString line;
        QString folder;
        quint32 error;
    } cases[] = {
        {"no-such-program-here", {}, ERROR_FILE_NOT_FOUND},
        {dir.filePath("missing.bat"), {}, ERROR_FILE_NOT_FOUND},
        {dir.filePath("garbage"), {}, ERROR_BAD_EXE_FORMAT},
        {dir.filePath("plain"), {}, ERROR_ACCESS_DENIED},
        {dir.filePath("sub"), {}, ERROR_ACCESS_DENIED},
        {"./plain", dir.path(), ERROR_ACCESS_DENIED},
        {"sh -c true", dir.filePath("nowhere"), ERROR_FILE_NOT_FOUND},
        {"sh -c true", dir.filePath("plain"), ERROR_PATH_NOT_FOUND},
        {"", {}, ERROR_FILE_NOT_FOUND},
    };
    for (const auto &c : cases) {
        ProcessHandle handle = 123;
        EXPECT_EQ(StartProcess(c.line, c.folder, 1, NORMAL_PRIORITY_CLASS, false, handle), c.error)
            << c.line.toStdString();
        EXPECT_EQ(handle, 0);
    }
    EXPECT_EQ(ErrorCodeText(ERROR_BAD_EXE_FORMAT), "Exec format error");
    EXPECT_EQ(ErrorCodeText(ERROR_FILE_NOT_FOUND), "No such file or directory");
    // An errno without a Windows counterpart keeps its own text.
    EXPECT_EQ(ErrorCodeText(ErrorCodeFromErrno(ECONNREFUSED)), "Connection refused");
    EXPECT_FALSE(ErrorCodeText(999999).isEmpty());
}

TEST(Process, LongCommandLinesRunWholeAndOverlongOnesAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bat = dir.filePath("len.bat");
    ASSERT_TRUE(fixtures::WriteFile(bat, "printf %s \"$1\" > \"$(dirname \"$0\")/len.txt\"\n"));
    const QString arg(5000, u'x');
    EXPECT_EQ(RunAndWait(bat + " " + arg), 0u);
    EXPECT_EQ(fixtures::ReadFile(dir.filePath("len.txt")).size(), 5000);

    ProcessHandle handle = 0;
    EXPECT_EQ(StartProcess(bat + " " + QString(MaxCommandLineLength, u'y'), {}, 1, NORMAL_PRIORITY_CLASS, false,
                           handle),
              ERROR_FILENAME_EXCED_RANGE);
}

TEST(Process, PriorityClassAndNewConsoleReachTheChild)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bat = dir.filePath("facts.bat");
    // niceness, then whether the script leads a session of its own
    ASSERT_TRUE(fixtures::WriteFile(
        bat, "set -- $(cut -d')' -f2 /proc/$$/stat)\n"
             "if [ \"$4\" = \"$$\" ]; then s=own; else s=shared; fi\n"
             "echo \"$(nice) $s\" > \"$(dirname \"$0\")/facts.txt\"\n"));
    const QString facts = dir.filePath("facts.txt");

    ASSERT_EQ(RunAndWait(bat, {}, IDLE_PRIORITY_CLASS, true), 0u);
    EXPECT_EQ(fixtures::ReadFile(facts), "19 own\n");
    const int own = ::nice(0);
    ASSERT_EQ(RunAndWait(bat, {}, NORMAL_PRIORITY_CLASS, false), 0u);
    EXPECT_EQ(fixtures::ReadFile(facts), QByteArray::number(own) + " shared\n");
    // Without the right to raise it, a high class still starts the program.
    ASSERT_EQ(RunAndWait(bat, {}, HIGH_PRIORITY_CLASS, false), 0u);
}

TEST(Process, WaitDispatchesEventsWithoutSpinning)
{
    ProcessHandle handle = 0;
    ASSERT_EQ(StartProcess("sleep 0.6", {}, 1, NORMAL_PRIORITY_CLASS, false, handle), 0u);
    EXPECT_EQ(GetExitCodeProcess(handle), STILL_ACTIVE);

    int ticks = 0;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    QElapsedTimer clock;
    clock.start();
    const clock_t cpuBefore = ::clock();
    WaitForProcessDispatching(handle);
    const double cpuSeconds = double(::clock() - cpuBefore) / CLOCKS_PER_SEC;

    EXPECT_GE(clock.elapsed(), 550);
    EXPECT_GE(ticks, 3) << "timers fire while waiting";
    EXPECT_LT(cpuSeconds, 0.1) << "the wait sleeps";
    EXPECT_EQ(GetExitCodeProcess(handle), 0u);
    CloseProcessHandle(handle);

    quint32 code = 0;
    EXPECT_EQ(QueryExitCode(handle, code), ERROR_INVALID_HANDLE) << "a released handle is gone";
    WaitForProcessDispatching(handle); // returns at once
}

TEST(Process, EveryChildIsReapedWaitedForOrNot)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(fixtures::WriteFile(dir.filePath("quick.bat"), "exit 4\n"));
    QList<ProcessHandle> kept, started;
    for (int i = 0; i < 6; ++i) {
        ProcessHandle handle = 0;
        ASSERT_EQ(StartProcess("true", {}, 1, NORMAL_PRIORITY_CLASS, false, handle), 0u);
        if (i % 2)
            CloseProcessHandle(handle); // released at once, never looked at
        else
            kept << handle;
        started << handle;
        ProcessHandle shell = 0;
        ASSERT_EQ(ShellExecuteFile(dir.filePath("quick.bat"), shell), 0u);
        ASSERT_NE(shell, 0);
        CloseProcessHandle(shell);
        started << shell;
    }
    for (ProcessHandle pid : started)
        EXPECT_TRUE(fixtures::ProcessGone(pid, 3000)) << "pid " << pid << " left as a zombie";
    EXPECT_TRUE(fixtures::ZombieChildren().isEmpty());
    // Reaped, yet a handle still held tells the exit code.
    for (ProcessHandle handle : kept) {
        EXPECT_EQ(GetExitCodeProcess(handle), 0u);
        CloseProcessHandle(handle);
    }

    // QProcess still works beside the reaper and gets its own exit codes.
    QProcess process;
    process.start("sh", {"-c", "exit 5"});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 5);
}

TEST(Process, ShellExecuteStartsFilesByType)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath("LOGON.BAT");
    ASSERT_TRUE(fixtures::WriteFile(script, "echo ran > \"$(dirname \"$0\")/ran.txt\"\nexit 9\n"));
    const QString program = dir.filePath("prog");
    ASSERT_TRUE(fixtures::WriteFile(program, "#!/bin/sh\nexit 6\n", true));

    ProcessHandle handle = 0;
    ASSERT_EQ(ShellExecuteFile(script, handle), 0u);
    ASSERT_NE(handle, 0);
    WaitForProcessDispatching(handle);
    EXPECT_EQ(GetExitCodeProcess(handle), 9u);
    CloseProcessHandle(handle);
    EXPECT_EQ(fixtures::ReadFile(dir.filePath("ran.txt")), "ran\n");

    ASSERT_EQ(ShellExecuteFile(program, handle), 0u);
    WaitForProcessDispatching(handle);
    EXPECT_EQ(GetExitCodeProcess(handle), 6u);
    CloseProcessHandle(handle);

    EXPECT_EQ(ShellExecuteFile(dir.filePath("missing.bat"), handle), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(ShellExecuteFile(dir.filePath("no/such/dir.bat"), handle), ERROR_FILE_NOT_FOUND);
}

TEST(Process, TerminateEndsTheWait)
{
    // The flag cannot be cleared, so it is raised in a helper process of its own.
    QProcess helper;
    helper.start(TAVRO_TEST_HELPERS_DIR "/process_wait_helper", {"platform"});
    ASSERT_TRUE(helper.waitForFinished(10000));
    const QString out = QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
    EXPECT_EQ(helper.exitCode(), 0) << out.toStdString() << helper.readAllStandardError().toStdString();
    EXPECT_TRUE(out.startsWith("ended ")) << out.toStdString();
}
