#include "components/Appexec.h"
#include "platform/process.h"
#include "tests/fixtures/ProcessFixtures.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Every run changes the current folder; each test puts it back.
class AppExecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.path() + "/";
    }
    void TearDown() override { QDir::setCurrent(saved); }

    // Runs ExeName/params waited for in the temp folder; the exception text, if any.
    QString Run(TAppExec &app, const QString &exe, const QStringList &params = {})
    {
        app.setExeName(exe);
        app.setExeParams(params);
        app.setExePath(path);
        app.setWait(true);
        try {
            app.Execute();
        } catch (const EAppExec &e) {
            return "raised: " + e.message();
        }
        return {};
    }

    QString saved = QDir::currentPath();
    QTemporaryDir dir;
    QString path;
};

QStringList Files(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

TEST_F(AppExecTest, ClearResetsTheRunButKeepsTheSettings)
{
    TAppExec app;
    app.setHide(true);
    EXPECT_EQ(Run(app, "sh", {"-c", "\"exit 5\""}), "");
    EXPECT_EQ(app.ErrNo(), 5u);
    app.Output() << "line";
    app.Clear();
    EXPECT_EQ(app.ErrNo(), 32u);
    EXPECT_TRUE(app.ExeName().isEmpty() && app.ExePath().isEmpty() && app.ExeParams().isEmpty() &&
                app.Output().isEmpty());
    EXPECT_TRUE(app.Wait() && app.Hide() && app.ChangeDir());
}

TEST_F(AppExecTest, NormalisesExePath)
{
    const struct {
        QString assigned, read;
    } cases[] = {
        {"/opt/tools/", "/opt/tools"}, {"/opt/tools//", "/opt/tools/"}, {"/", "/"}, {"/a/", "/a/"},
        {"/opt/tools", "/opt/tools"},  {"", ""},
    };
    for (const auto &c : cases) {
        TAppExec app;
        app.setExePath(c.assigned);
        EXPECT_EQ(app.ExePath(), c.read) << c.assigned.toStdString();
    }

    // Execute leaves it with its trailing delimiter; an empty one names the root.
    TAppExec app;
    app.setExePath(path);
    EXPECT_EQ(app.ExePath(), dir.path());
    EXPECT_EQ(Run(app, "true"), "");
    EXPECT_EQ(app.ExePath(), path);
    EXPECT_EQ(QDir::currentPath(), dir.path());

    app.setExePath("");
    app.setExeName("true");
    app.Execute();
    EXPECT_EQ(app.ExePath(), "/");
    EXPECT_EQ(QDir::currentPath(), "/");
}

TEST_F(AppExecTest, BuildsTheCommandFromNameParametersAndProbedExtension)
{
    TAppExec app;
    app.setExeName("notepad");
    app.setExeParams({"a", "b c"});
    EXPECT_EQ(app.GetCommandLine(), "notepad a b c");

    // tool has no extension: tool.bat in ExePath is what runs, its words as given.
    ASSERT_TRUE(fixtures::WriteFile(path + "tool.bat", "printf '%s|' \"$@\" > args.txt\nexit 4\n"));
    EXPECT_EQ(Run(app, "tool", {"a", "\"b c\"", "d"}), "");
    EXPECT_EQ(app.ErrNo(), 4u);
    EXPECT_EQ(fixtures::ReadFile(path + "args.txt"), "a|b c|d|");

    // With tool.exe beside it the command keeps the bare name (the system adds .exe).
    ASSERT_TRUE(fixtures::WriteFile(path + "tool.exe", ""));
    ASSERT_TRUE(fixtures::WriteFile(path + "tool", "#!/bin/sh\nexit 6\n", true));
    EXPECT_EQ(Run(app, "tool"), "");
    EXPECT_EQ(app.ErrNo(), 6u);

    // A name with an extension (here one inside a quoted path) is taken as it stands.
    ASSERT_TRUE(fixtures::WriteFile(path + "LOGOFF.BAT", "exit 8\n"));
    EXPECT_EQ(Run(app, "sh \"" + path + "LOGOFF.BAT\""), "");
    EXPECT_EQ(app.ErrNo(), 8u);
}

TEST_F(AppExecTest, CapturesOutputThroughAGeneratedBatchFile)
{
    TAppExec app;
    app.setRedirectOutput(true);
    EXPECT_EQ(Run(app, "printf", {"'one\\ntwo words\\n\\nlast'"}), "");
    EXPECT_EQ(app.Output(), QStringList({"one", "two words", "", "last"}));
    EXPECT_EQ(app.ErrNo(), 0u);
    EXPECT_TRUE(Files(path).isEmpty()) << Files(path).join(' ').toStdString();

    // The next run starts from an empty list.
    EXPECT_EQ(Run(app, "true"), "");
    EXPECT_TRUE(app.Output().isEmpty());

    // Without the folder change the files are still found in ExePath.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    ASSERT_TRUE(fixtures::WriteFile(elsewhere.filePath(self + ".bat"), "echo impostor\n"));
    app.setChangeDir(false);
    EXPECT_EQ(Run(app, "echo", {"kept"}), "");
    EXPECT_EQ(app.Output(), QStringList({"kept"}));
    EXPECT_TRUE(Files(path).isEmpty());
    EXPECT_EQ(Files(elsewhere.path()).size(), 1);
    app.setChangeDir(true);

    // Not waited for: the program must still find its batch file, so nothing is removed.
    app.setWait(false);
    app.setExeName("echo");
    app.setExeParams({"late"});
    app.Execute();
    const QString out = path + self + ".out";
    ASSERT_TRUE(fixtures::FileFilled(out, 3000));
    EXPECT_EQ(fixtures::ReadFile(out), "late\n");
}

TEST_F(AppExecTest, FailedStartsSayWhatFailed)
{
    ASSERT_TRUE(fixtures::WriteFile(path + "garbage.exe", "\x7f\x01 not a program", true));
    ASSERT_TRUE(QDir(path).mkdir("folder.exe"));
    const struct {
        TLangType lang;
        QString exe;
        quint32 errNo;
        QString message;
    } cases[] = {
        {ltEnglish, "missing.exe", 2, "File was not found"},
        {ltFrench, "missing.exe", 2, "Fichier non trouvé"},
        {ltItalian, "missing.exe", 2, "File non trovato"},
        {ltEnglish, "folder.exe", 5,
         "Attempt was made to dynamically link to a task, or there was a sharing or network-protection error"},
        // 193 is past the table: the system's own words, never "No error".
        {ltEnglish, "./garbage.exe", 193, "Exec format error"},
    };
    for (const auto &c : cases) {
        TAppExec app;
        app.setLangType(c.lang);
        EXPECT_EQ(Run(app, c.exe), "raised: " + c.message) << c.exe.toStdString();
        EXPECT_EQ(app.ErrNo(), c.errNo);
        EXPECT_EQ(app.phandle, 0u);
    }

    // The folder change fails first: nothing starts.
    TAppExec app;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(fixtures::WriteFile(path + "marker.bat", "touch ran\n"));
    app.setExeName(path + "marker.bat");
    app.setWait(true);
    for (const QString &folder : {path + "nowhere/", path + "marker.bat"}) {
        app.setExePath(folder);
        try {
            app.Execute();
            ADD_FAILURE() << "no error for " << folder.toStdString();
        } catch (const EAppExecChDir &e) {
            EXPECT_TRUE(e.message().contains(folder)) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains("No such file or directory") ||
                        e.message().contains("Not a directory"))
                << e.message().toStdString();
        }
    }
    EXPECT_FALSE(QFile::exists(path + "ran"));
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST_F(AppExecTest, ErrorTextsComeFromOneTableForAllLaunchers)
{
    TAppExec first;
    TAppExec second;
    const struct {
        int exitCode;
        QString english, italian;
    } cases[] = {
        {1, "", ""},
        {3, "Path was not found", "Path non trovato"},
        {11, "Executable file was invalid. Either it was not a Windows application or there was an error in the .EXE image",
         "File eseguibile invalido. Potrebbe non essere un'applicazione per Windows o c'e' un errore nell'immagine .EXE "},
        {31, "", ""},
        {32, "No error", "Nessun errore"},
        {200, "No error", "Nessun errore"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Run(second, "sh", {"-c", QString("\"exit %1\"").arg(c.exitCode)}), "");
        ASSERT_EQ(second.ErrNo(), quint32(c.exitCode));
        first.setLangType(ltEnglish);
        EXPECT_EQ(second.GetErrorString(), c.english);
        first.setLangType(ltItalian);
        EXPECT_EQ(second.GetErrorString(), c.italian) << "the language is shared";
        TAppExec third;
        EXPECT_EQ(second.GetErrorString(), c.english) << "a new launcher switches back to English";
    }
}

TEST_F(AppExecTest, WaitKeepsTheWindowAliveAndShowsTheWaitCursor)
{
    TAppExec app;
    int ticks = 0;
    Qt::CursorShape during = Qt::ArrowCursor;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (QGuiApplication::overrideCursor())
            during = QGuiApplication::overrideCursor()->shape();
    });
    timer.start();
    const clock_t cpu = ::clock();
    EXPECT_EQ(Run(app, "sleep", {"0.5"}), "");
    EXPECT_LT(double(::clock() - cpu) / CLOCKS_PER_SEC, 0.1) << "waiting must not spin";
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(during, Qt::BusyCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(app.ErrNo(), 0u);
}

TEST_F(AppExecTest, AHandlerMayRunTheSameLauncherDuringItsWait)
{
    TAppExec app;
    quint32 inner = 0, innerHandle = 0;
    QTimer::singleShot(100, [&] {
        app.setExeParams({"-c", "\"exit 4\""});
        app.Execute();
        inner = app.ErrNo();
        innerHandle = app.phandle;
    });
    EXPECT_EQ(Run(app, "sh", {"-c", "\"sleep 0.4; exit 3\""}), "");
    EXPECT_EQ(inner, 4u);
    EXPECT_EQ(app.ErrNo(), 3u) << "the outer wait still gets its own exit code";
    EXPECT_EQ(app.phandle, innerHandle);
    EXPECT_EQ(platform::GetExitCodeProcess(app.phandle), 4u);
}

TEST_F(AppExecTest, HandlesAreReleasedAndNoZombiesRemain)
{
    TAppExec app;
    EXPECT_EQ(Run(app, "sh", {"-c", "\"exit 2\""}), "");
    const quint32 first = app.phandle;
    ASSERT_NE(first, 0u);
    EXPECT_EQ(platform::GetExitCodeProcess(first), 2u) << "phandle stays usable after the run";

    EXPECT_EQ(Run(app, "true"), "");
    quint32 code = 0;
    EXPECT_EQ(platform::QueryExitCode(first, code), platform::ERROR_INVALID_HANDLE) << "released by the next run";
    EXPECT_EQ(platform::GetExitCodeProcess(app.phandle), 0u);

    app.setWait(false);
    app.setExeParams({});
    for (int i = 0; i < 5; ++i) {
        app.setExeName("sleep 0.1");
        app.Execute();
        EXPECT_EQ(app.ErrNo(), 32u);
    }
    QThread::msleep(400); // the runs end unwatched
    EXPECT_TRUE(fixtures::ZombieChildrenAfter(3000).isEmpty());
}

TEST_F(AppExecTest, LongCommandsRunWholeAndTooLongOnesAreRefused)
{
    ASSERT_TRUE(fixtures::WriteFile(path + "len.bat", "printf %s \"$1\" | wc -c > len.txt\n"));
    TAppExec app;
    EXPECT_EQ(Run(app, "len.bat", {QString(3000, u'x')}), "");
    EXPECT_EQ(fixtures::ReadFile(path + "len.txt").trimmed(), "3000");

    const QString refused = Run(app, "len.bat", {QString(40000, u'y')});
    EXPECT_TRUE(refused.startsWith("raised: The command line is too long")) << refused.toStdString();
    EXPECT_EQ(app.ErrNo(), platform::ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(AppExecTest, TerminateEndsAWaitedRun)
{
    QProcess helper;
    helper.start(TAVRO_TEST_HELPERS_DIR "/process_wait_helper", {"appexec"});
    ASSERT_TRUE(helper.waitForFinished(10000));
    const QString out = QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
    EXPECT_EQ(helper.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.startsWith("ended ")) << out.toStdString();
}
