#include <QProcess>

#include <gtest/gtest.h>

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
