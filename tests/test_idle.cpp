#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "platform/sysinfo.h"
#include "tests/fixtures/DesktopSession.h"
#include "tests/fixtures/TempEnv.h"

using namespace Qt::StringLiterals;

namespace {

// A desktop service answering the idle time, on the private session bus.
struct IdleService {
    QProcess process;
    IdleService(const char *kind, quint32 ms)
    {
        process.start(QStringLiteral(TAVRO_TEST_HELPERS_DIR "/idleservice"), {QLatin1String(kind), QString::number(ms)});
        ready = process.waitForReadyRead(10000) && process.readLine() == "ready\n";
    }
    ~IdleService()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }
    bool ready = false;
};

// An X server whose screen-saver extension would answer too: under Wayland it must not be asked.
struct XServer {
    QProcess xvfb;
    QByteArray display;
    XServer()
    {
        xvfb.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s});
        if (xvfb.waitForReadyRead(10000))
            display = ':' + xvfb.readLine().trimmed();
    }
    ~XServer()
    {
        xvfb.terminate();
        xvfb.waitForFinished(3000);
    }
};

const QString InputHelper = QStringLiteral(TAVRO_TEST_HELPERS_DIR "/waylandinput");

// A private KWin on a virtual output, drawing in software, with a runtime folder, home and
// data folders of its own and no session bus (so that it answers nothing there). It dies
// with the test process, even when that is killed.
class Kwin {
public:
    bool start(QString *error)
    {
        const QString installed = QStandardPaths::findExecutable(u"kwin_wayland"_s);
        if (installed.isEmpty()) {
            *error = u"kwin_wayland is missing (package kwin-wayland)"_s;
            return false;
        }
        // Debian gives kwin_wayland a file capability (cap_sys_resource); where the bounding
        // set lacks it, as in containers, the kernel refuses to start it. A plain copy runs.
        const QString program = m_dir.filePath(u"kwin_wayland"_s);
        const QString runtime = m_dir.filePath(u"runtime"_s);
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!QFile::copy(installed, program)) {
            *error = u"cannot copy "_s + installed;
            return false;
        }
        // KWin hands its fake-input protocol only to programs whose desktop file asks for it.
        const QString helper = QFileInfo(InputHelper).canonicalFilePath();
        QDir().mkpath(m_dir.filePath(u"data/applications"_s));
        QFile entry(m_dir.filePath(u"data/applications/tavro-waylandinput.desktop"_s));
        if (helper.isEmpty() || !entry.open(QIODevice::WriteOnly)
            || entry.write("[Desktop Entry]\nType=Application\nName=Tavro Login test input\nNoDisplay=true\nExec="
                           + QFile::encodeName(helper) + "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n") < 0) {
            *error = u"cannot write the input helper's desktop file"_s;
            return false;
        }
        entry.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"WAYLAND_DISPLAY"_s, u"WAYLAND_SOCKET"_s, u"DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(name);
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        env.insert(u"HOME"_s, m_dir.filePath(u"home"_s));
        env.insert(u"XDG_CONFIG_HOME"_s, m_dir.filePath(u"config"_s));
        env.insert(u"XDG_CACHE_HOME"_s, m_dir.filePath(u"cache"_s));
        env.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(u"data"_s));
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + runtime + u"/no-bus"_s);
        env.insert(u"KWIN_COMPOSE"_s, u"Q"_s); // QPainter: no GPU
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_dir.filePath(u"kwin.log"_s));
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program, {u"--virtual"_s, u"--no-lockscreen"_s, u"--no-global-shortcuts"_s,
                                  u"--no-kactivities"_s, u"--socket"_s, u"tavro-idle"_s});
        if (!m_process.waitForStarted(5000)) {
            *error = u"kwin_wayland did not start: "_s + m_process.errorString();
            return false;
        }
        socket = runtime + u"/tavro-idle"_s;
        // Ready once a client gets its globals.
        QElapsedTimer waited;
        waited.start();
        while (m_process.state() == QProcess::Running && waited.elapsed() < 20000) {
            if (run(u"globals"_s) == 0) {
                if (!globals.contains("ext_idle_notifier_v1") || !globals.contains("org_kde_kwin_fake_input")) {
                    *error = u"KWin offers this client neither ext_idle_notifier_v1 nor fake input: "_s + QString::fromUtf8(globals);
                    return false;
                }
                return true;
            }
            QTest::qWait(100);
        }
        *error = u"KWin did not come up: "_s + log();
        return false;
    }
    ~Kwin() { kill(); }

    // The input helper against this compositor; its exit code.
    int run(const QString &what)
    {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"WAYLAND_DISPLAY"_s, socket);
        helper.setProcessEnvironment(env);
        helper.start(InputHelper, {what});
        if (!helper.waitForFinished(15000) || helper.exitStatus() != QProcess::NormalExit)
            return -1;
        globals = helper.readAllStandardOutput();
        return helper.exitCode();
    }
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString log() const
    {
        QFile file(m_dir.filePath(u"kwin.log"_s));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString socket;    // absolute, as WAYLAND_DISPLAY
    QByteArray globals; // what the helper's last run printed

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// The idle time once it meets WANTED, or the last one seen after MS milliseconds of
// waiting with the event loop running. (QTRY_* report to QtTest, which gtest never hears.)
template <class Wanted>
quint32 IdleOnceItIs(Wanted wanted, int ms)
{
    quint32 idle = 0;
    (void)QTest::qWaitFor([&] { return wanted(idle = platform::IdleMilliseconds()); }, ms);
    return idle;
}

double CpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(IdleTime, UnderWaylandOnlyTheCompositorIsAsked)
{
    QString error;
    ASSERT_TRUE(DesktopSession::start(&error)) << qPrintable(error);
    XServer x;
    ASSERT_FALSE(x.display.isEmpty());
    ScopedEnv env("DISPLAY", x.display);
    env.set("WAYLAND_DISPLAY", "wayland-test");
    // No compositor service: no idle time at all, though the X server would give one.
    EXPECT_FALSE(platform::IdleTimeAvailable());
    EXPECT_EQ(platform::IdleMilliseconds(), 0u);
    {
        IdleService kde("kde", 777);
        ASSERT_TRUE(kde.ready);
        EXPECT_EQ(platform::IdleMilliseconds(), 777u);
        IdleService gnome("gnome", 4321);
        ASSERT_TRUE(gnome.ready);
        // GNOME's idle monitor comes first.
        EXPECT_EQ(platform::IdleMilliseconds(), 4321u);
        EXPECT_TRUE(platform::IdleTimeAvailable());
    }
    // Without Wayland the X server's screen saver answers.
    env.unset("WAYLAND_DISPLAY");
    env.set("XDG_SESSION_TYPE", "x11");
    EXPECT_TRUE(platform::IdleTimeAvailable());
}

// KWin pushes "idled" after the notification's timeout and "resumed" at input: the idle time
// follows the clock from there, and drops to 0 at input. The session bus still comes first,
// and a compositor that dies leaves no idle time, no hang and no crash.
TEST(IdleTime, CompositorEventsGiveTheIdleTime)
{
    QString error;
    ASSERT_TRUE(DesktopSession::start(&error)) << qPrintable(error);
    Kwin kwin;
    ASSERT_TRUE(kwin.start(&error)) << qPrintable(error);
    ScopedEnv env("WAYLAND_DISPLAY", QFile::encodeName(kwin.socket));
    env.unset("DISPLAY");

    ASSERT_TRUE(platform::IdleTimeAvailable()) << qPrintable(kwin.log());
    EXPECT_LT(platform::IdleMilliseconds(), 1000u);
    // No input: past the notification's timeout the idle time follows the clock.
    const quint32 grown = IdleOnceItIs([](quint32 ms) { return ms > 1200; }, 5000);
    EXPECT_GT(grown, 1200u);
    EXPECT_LT(grown, 2000u);
    const quint32 earlier = platform::IdleMilliseconds();
    const double cpu = CpuSeconds();
    QTest::qWait(500);
    EXPECT_LT(CpuSeconds() - cpu, 0.05); // the connection is watched, not polled
    const quint32 later = platform::IdleMilliseconds();
    EXPECT_GE(later, earlier + 450);
    EXPECT_LE(later, earlier + 1500);

    // A mouse movement through the compositor, as a user's.
    ASSERT_EQ(kwin.run(u"move"_s), 0) << qPrintable(kwin.log());
    EXPECT_EQ(IdleOnceItIs([](quint32 ms) { return ms == 0; }, 500), 0u);
    EXPECT_GT(IdleOnceItIs([](quint32 ms) { return ms > 1000; }, 5000), 1000u);

    {
        IdleService kde("kde", 777);
        ASSERT_TRUE(kde.ready);
        EXPECT_EQ(platform::IdleMilliseconds(), 777u);
    }
    EXPECT_GT(platform::IdleMilliseconds(), 1000u);

    // Killed between two questions: the next one finds it gone at once.
    kwin.kill();
    QElapsedTimer asked;
    asked.start();
    EXPECT_FALSE(platform::IdleTimeAvailable());
    EXPECT_EQ(platform::IdleMilliseconds(), 0u);
    EXPECT_LT(asked.elapsed(), 1000);

    // Killed while the event loop runs: the closed connection is dropped there, not spun on.
    Kwin second;
    ASSERT_TRUE(second.start(&error)) << qPrintable(error);
    env.set("WAYLAND_DISPLAY", QFile::encodeName(second.socket));
    ASSERT_TRUE(platform::IdleTimeAvailable());
    second.kill();
    const double cpuAtKill = CpuSeconds();
    QTest::qWait(500);
    EXPECT_LT(CpuSeconds() - cpuAtKill, 0.05);
    EXPECT_FALSE(platform::IdleTimeAvailable());
}
