// The real program on a private X server, seen the way a window manager and a person
// see it: window properties, the order in which windows are mapped, the pixels drawn
// (inside a frame of openbox's where the outer size matters).
// Every wait has a deadline and every child dies with the test, so nothing can hang.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

#include "tests/fixtures/TempEnv.h"

using namespace Qt::StringLiterals;

extern char **environ;

// Readable failure output for texts.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

namespace {

// Polls until done() holds or the deadline passes.
bool WaitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done())
            return true;
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(25);
    }
}

// A child process that is killed with the test (also when the test itself is killed)
// and reaped in teardown.
class Child {
public:
    ~Child() { stop(); }

    // Standard output and error go to logPath; fd3, when given, becomes the child's fd 3.
    bool start(const QString &program, const QStringList &args, const QString &logPath, int fd3 = -1)
    {
        std::vector<QByteArray> words{QFile::encodeName(program)};
        for (const QString &a : args)
            words.push_back(a.toUtf8());
        std::vector<char *> argv;
        for (QByteArray &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        const QByteArray log = QFile::encodeName(logPath);
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid < 0)
            return false;
        if (m_pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            if (fd3 >= 0)
                ::dup2(fd3, 3);
            ::execve(argv[0], argv.data(), environ);
            ::_exit(127);
        }
        return true;
    }

    pid_t pid() const { return m_pid; }
    bool running()
    {
        reap();
        return m_pid > 0;
    }
    void signal(int sig)
    {
        if (m_pid > 0)
            ::kill(m_pid, sig);
    }

    // The wait status once the child has ended within ms, or nothing.
    std::optional<int> waitEnd(int ms)
    {
        if (m_pid > 0)
            WaitFor([this] { return !running(); }, ms);
        return m_pid > 0 ? std::nullopt : m_status;
    }

    void stop()
    {
        if (!running())
            return;
        signal(SIGTERM);
        if (!waitEnd(2000)) {
            signal(SIGKILL);
            reap(true);
        }
    }

private:
    void reap(bool block = false)
    {
        if (m_pid <= 0)
            return;
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
        if (r == m_pid || (r < 0 && errno == ECHILD)) {
            m_status = status;
            m_pid = 0;
        }
    }

    pid_t m_pid = 0;
    std::optional<int> m_status;
};

struct Free {
    void operator()(void *p) const { std::free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, Free>;

// What the X server knows about the windows of its clients.
class XScreen {
public:
    ~XScreen()
    {
        if (m_c)
            xcb_disconnect(m_c);
    }

    bool open(const QString &display)
    {
        m_c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(m_c))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        // Every map of a top-level window is reported, in the order the server made it.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_c);
        return true;
    }

    xcb_atom_t atom(const char *name)
    {
        Reply<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // A property's bytes and its type.
    QByteArray property(xcb_window_t w, xcb_atom_t name, xcb_atom_t *type = nullptr)
    {
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr));
        if (type)
            *type = r ? r->type : xcb_atom_t(XCB_ATOM_NONE);
        if (!r)
            return {};
        const int bytes = xcb_get_property_value_length(r.get());
        return QByteArray(static_cast<const char *>(xcb_get_property_value(r.get())), bytes);
    }

    QString text(xcb_window_t w, const char *name)
    {
        xcb_atom_t type = XCB_ATOM_NONE;
        const QByteArray bytes = property(w, atom(name), &type);
        return type == XCB_ATOM_STRING ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
    }

    QList<xcb_atom_t> atoms(xcb_window_t w, const char *name)
    {
        const QByteArray bytes = property(w, atom(name));
        QList<xcb_atom_t> out;
        for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4)
            out << *reinterpret_cast<const xcb_atom_t *>(bytes.constData() + i);
        return out;
    }

    // The top-level windows a person can see, bottom of the stack first.
    QList<xcb_window_t> viewable()
    {
        QList<xcb_window_t> out;
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr));
        if (!tree)
            return out;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            Reply<xcb_get_window_attributes_reply_t> a(
                xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, children[i]), nullptr));
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect)
                out << children[i];
        }
        return out;
    }

    // Top-level windows in the order they were mapped so far.
    const QList<xcb_window_t> &mapped()
    {
        while (Reply<xcb_generic_event_t> e{xcb_poll_for_event(m_c)}) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<const xcb_map_notify_event_t *>(e.get());
                if (map->event == m_root && !map->override_redirect)
                    m_mapped << map->window;
            }
        }
        return m_mapped;
    }

    QList<xcb_window_t> children(xcb_window_t w)
    {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr));
        if (!tree)
            return {};
        const xcb_window_t *c = xcb_query_tree_children(tree.get());
        return QList<xcb_window_t>(c, c + xcb_query_tree_children_length(tree.get()));
    }

    // The program's own window inside a top-level one: under a window manager the
    // top-level is the frame, and the client is the window that carries WM_STATE.
    xcb_window_t client(xcb_window_t top)
    {
        const xcb_atom_t state = atom("WM_STATE");
        QList<xcb_window_t> todo{top};
        while (!todo.isEmpty()) {
            const xcb_window_t w = todo.takeFirst();
            if (!property(w, state).isEmpty())
                return w;
            todo << children(w);
        }
        return top;
    }

    // The first client window on screen of that size.
    xcb_window_t find(QSize clientSize)
    {
        for (xcb_window_t top : viewable()) {
            const xcb_window_t w = client(top);
            if (size(w) == clientSize)
                return w;
        }
        return XCB_WINDOW_NONE;
    }

    bool managed() { return !property(m_root, atom("_NET_SUPPORTING_WM_CHECK")).isEmpty(); }

    QSize size(xcb_window_t w)
    {
        Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w), nullptr));
        return g ? QSize(g->width + 2 * g->border_width, g->height + 2 * g->border_width) : QSize();
    }

    // The window's outer size: that of its frame when a window manager gave it one.
    QSize outerSize(xcb_window_t w)
    {
        for (;;) {
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr));
            if (!tree || tree->parent == m_root || tree->parent == XCB_WINDOW_NONE)
                return size(w);
            w = tree->parent;
        }
    }

    // The window's pixels as the server holds them (a 24-bit screen, 32 bits a pixel).
    QImage grab(xcb_window_t w)
    {
        const QSize s = size(w);
        Reply<xcb_get_image_reply_t> r(xcb_get_image_reply(
            m_c, xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0, uint16_t(s.width()), uint16_t(s.height()), ~0u),
            nullptr));
        if (!r || r->depth != 24 || xcb_get_image_data_length(r.get()) < s.width() * s.height() * 4)
            return {};
        return QImage(xcb_get_image_data(r.get()), s.width(), s.height(), s.width() * 4, QImage::Format_RGB32).copy();
    }

private:
    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    QList<xcb_window_t> m_mapped;
};

// A private X server and a private copy of the program with its default background.
// The copy has a path of its own, so the single-instance guard of another test's
// program never takes it for a second copy.
class Screen : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
        ASSERT_FALSE(xvfb.isEmpty()) << "Xvfb is not installed (scripts/install-deps)";
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        const bool started = server.start(
            xvfb, {u"-displayfd"_s, u"3"_s, u"-screen"_s, u"0"_s, u"1024x768x24"_s, u"-nolisten"_s, u"tcp"_s},
            home.path() + u"/xvfb.log"_s, fds[1]);
        ::close(fds[1]);
        QByteArray number;
        pollfd p{fds[0], POLLIN, 0};
        QElapsedTimer clock;
        clock.start();
        while (started && !number.endsWith('\n') && clock.elapsed() < 15000) {
            if (::poll(&p, 1, 100) > 0) {
                char c;
                if (::read(fds[0], &c, 1) != 1)
                    break;
                number += c;
            }
        }
        ::close(fds[0]);
        ASSERT_TRUE(number.endsWith('\n')) << "Xvfb gave no display: " << log(u"xvfb.log"_s);
        display = u":"_s + QString::fromLatin1(number.trimmed());
        env.set("DISPLAY", display.toLatin1());
        env.set("QT_QPA_PLATFORM", "xcb");
        ASSERT_TRUE(x.open(display)) << display.toStdString();

        const QString build = QStringLiteral(TAVRO_BINARY_DIR "/app/");
        folder = home.path() + u"/program/"_s;
        QDir().mkpath(folder);
        for (const QString &file : {u"tavrologin"_s, u"classicbg.bmp"_s})
            ASSERT_TRUE(QFile::copy(build + file, folder + file)) << file.toStdString();
        QFile::setPermissions(folder + u"tavrologin"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void TearDown() override
    {
        program.stop();
        manager.stop();
        server.stop();
    }

    std::string log(const QString &name) const
    {
        QFile f(home.path() + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("(no log)");
    }

    // A window manager that frames windows, as a desktop has.
    void startWindowManager()
    {
        const QString openbox = QStandardPaths::findExecutable(u"openbox"_s);
        ASSERT_FALSE(openbox.isEmpty()) << "openbox is not installed (scripts/install-deps)";
        ASSERT_TRUE(manager.start(openbox, {}, home.path() + u"/openbox.log"_s));
        ASSERT_TRUE(WaitFor([&] { return x.managed() || !manager.running(); }, 15000) && manager.running())
            << "openbox did not take the screen: " << log(u"openbox.log"_s);
    }

    void startProgram(const QStringList &args = {})
    {
        ASSERT_TRUE(program.start(folder + u"tavrologin"_s, args, home.path() + u"/program.log"_s));
    }

    // The title the program should show: "Tavro Login v" and its four-part version.
    QString caption()
    {
        QProcess version;
        version.start(folder + u"tavrologin"_s, {u"--version"_s});
        if (!version.waitForFinished(10000)) {
            version.kill();
            version.waitForFinished(2000);
            return {};
        }
        const QString out = QString::fromUtf8(version.readAllStandardOutput()).trimmed();
        const auto m = QRegularExpression(u"^tavrologin (\\d+\\.\\d+\\.\\d+\\.\\d+)$"_s).match(out);
        return m.hasMatch() ? u"Tavro Login v"_s + m.captured(1) : QString();
    }

    // Waits for n mapped top-level windows that are all still on screen.
    bool waitForWindows(qsizetype n, int ms = 20000)
    {
        return WaitFor([&] {
            const QList<xcb_window_t> shown = x.viewable();
            const QList<xcb_window_t> &mapped = x.mapped();
            return !program.running() ||
                   (mapped.size() >= n && shown.size() >= n &&
                    std::all_of(mapped.begin(), mapped.begin() + n, [&](xcb_window_t w) { return shown.contains(w); }));
        }, ms) && program.running();
    }

    TempHome home;
    ScopedEnv env;
    Child server, manager, program;
    XScreen x;
    QString display, folder;
};

// Largest difference of one colour channel between two pixels.
int Distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

TEST_F(Screen, LoginWindowShowsTheExactTitleAndTheDefaultBackgroundStretchedToItsOuterSize)
{
    const QString title = caption();
    ASSERT_FALSE(title.isEmpty());
    ASSERT_NO_FATAL_FAILURE(startWindowManager());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    xcb_window_t login = XCB_WINDOW_NONE;
    ASSERT_TRUE(WaitFor([&] { return (login = x.find(QSize(348, 176))) || !program.running(); }, 20000) && login)
        << "no login window\n" << log(u"program.log"_s);
    // Framed: its outer size is more than the client area.
    const QSize outer = x.outerSize(login);
    ASSERT_GT(outer.height(), 176);

    // What a window manager puts in the title bar, under both names.
    EXPECT_EQ(x.text(login, "_NET_WM_NAME"), title);
    EXPECT_EQ(x.text(login, "WM_NAME"), title);

    // The free strips along the left, right and bottom edges show the picture. Painting
    // has ended once two grabs agree and the corner is no longer the server's black.
    const QImage bmp(folder + u"classicbg.bmp"_s, "BMP");
    ASSERT_FALSE(bmp.isNull());
    ASSERT_NE(bmp.size(), outer); // or the stretch could not be told
    QImage shot;
    ASSERT_TRUE(WaitFor([&] {
        const QImage before = x.grab(login);
        QThread::msleep(150);
        shot = x.grab(login);
        return !shot.isNull() && shot == before && qGray(shot.pixel(0, shot.height() - 1)) > 64;
    }, 15000)) << "the login window was not painted";
    const QImage stretched = bmp.scaled(outer, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QImage toClient = bmp.scaled(shot.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const int w = shot.width(), h = shot.height();
    QList<QPoint> edge;
    for (int y = 0; y < h; ++y)
        edge << QPoint(0, y) << QPoint(w - 1, y) << QPoint(w - 4, y);
    for (int x0 = 0; x0 < w; ++x0)
        edge << QPoint(x0, h - 1) << QPoint(x0, h - 4);
    int worstStretched = 0, worstUnscaled = 0, worstToClient = 0;
    for (const QPoint &p : edge) {
        worstStretched = std::max(worstStretched, Distance(shot.pixel(p), stretched.pixel(p)));
        worstUnscaled = std::max(worstUnscaled, Distance(shot.pixel(p), bmp.pixel(p)));
        worstToClient = std::max(worstToClient, Distance(shot.pixel(p), toClient.pixel(p)));
    }
    EXPECT_LE(worstStretched, 2) << "outer size " << outer.width() << 'x' << outer.height();
    // Drawn at its own size, or stretched to the client area only, it would differ.
    EXPECT_GT(worstUnscaled, worstStretched + 1);
    EXPECT_GT(worstToClient, worstStretched + 1);
}

TEST_F(Screen, ConfigSwitchOpensOverTheMappedLoginWindowAndTheSessionEndStillEndsTheProgram)
{
    ASSERT_EQ(::geteuid(), 0u) << "the configuration window opens for administrators";
    ASSERT_NO_FATAL_FAILURE(startProgram({u"/config"_s}));
    ASSERT_TRUE(waitForWindows(2)) << x.mapped().size() << " mapped, " << x.viewable().size() << " on screen\n"
                                   << log(u"program.log"_s);
    const QList<xcb_window_t> mapped = x.mapped();
    const xcb_window_t login = mapped[0], configure = mapped[1];
    // Both on screen: the login window first, the configuration window above it.
    EXPECT_EQ(x.size(login), QSize(348, 176));
    EXPECT_EQ(x.size(configure), QSize(567, 314));
    EXPECT_EQ(mapped.size(), 2);
    const QList<xcb_window_t> stack = x.viewable();
    EXPECT_LT(stack.indexOf(login), stack.indexOf(configure));
    EXPECT_EQ(x.text(configure, "_NET_WM_NAME"), x.text(login, "_NET_WM_NAME"));
    // Tied to the login window and modal, as a window manager learns it.
    const QByteArray owner = x.property(configure, XCB_ATOM_WM_TRANSIENT_FOR);
    ASSERT_EQ(owner.size(), 4);
    EXPECT_EQ(*reinterpret_cast<const xcb_window_t *>(owner.constData()), login);
    EXPECT_TRUE(x.atoms(configure, "_NET_WM_STATE").contains(x.atom("_NET_WM_STATE_MODAL")));

    // The end of the session while the modal window is open ends the program in order.
    program.signal(SIGTERM);
    const std::optional<int> status = program.waitEnd(5000);
    ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0) << log(u"program.log"_s);
}

// After a logon the login window is hidden in the notification area with its minimised
// state recorded. A second start must leave it there: un-minimising the hidden window
// would map it behind the toolkit's back, an empty black frame that is never painted.
TEST_F(Screen, SecondCopyLeavesAWindowHiddenInTheTrayUnmapped)
{
    ASSERT_NO_FATAL_FAILURE(startWindowManager());
    // A path of its own: the guard tests' copies must not count.
    const QString copy = folder + u"guardcopy"_s;
    ASSERT_TRUE(QFile::copy(QStringLiteral(TAVRO_TEST_HELPERS_DIR "/guardcopy"), copy));
    QProcess first, second;
    QByteArray heard;
    const auto says = [&](const QByteArray &word) {
        return WaitFor([&] {
            first.waitForReadyRead(50);
            heard += first.readAll();
            return heard.split('\n').contains(word);
        }, 15000);
    };
    first.start(copy, {u"1"_s, u"1"_s});
    ASSERT_TRUE(says("shown"));
    ASSERT_TRUE(WaitFor([&] { return x.find(QSize(200, 100)) != XCB_WINDOW_NONE; }, 15000));
    first.write("tray\n");
    ASSERT_TRUE(says("hidden"));
    ASSERT_TRUE(WaitFor([&] { return x.find(QSize(200, 100)) == XCB_WINDOW_NONE; }, 15000));

    second.start(copy, {u"1"_s, u"1"_s});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_TRUE(second.readAllStandardOutput().contains("surplus"));
    ASSERT_TRUE(says("forward"));
    EXPECT_FALSE(WaitFor([&] { return x.find(QSize(200, 100)) != XCB_WINDOW_NONE; }, 1500))
        << "the hidden window was mapped";
    first.write("quit\n");
    EXPECT_TRUE(first.waitForFinished(5000));
}

} // namespace
