#include "platform/waylandidle_p.h"

#include "platform/lazylibrary.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <wayland-client.h>
#include <ext-idle-notify-v1-client-protocol.h>

// libwayland-client is opened on first use, so its wl_seat description is not linked: the
// generated tables may name it only weakly. It types the seat argument of a request, which
// the client never checks; libwayland reads a null type as "any interface".
extern "C" const wl_interface wl_seat_interface __attribute__((weak));
#include <ext-idle-notify-v1-protocol.c>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <poll.h>

namespace platform {

namespace {

#define TAVRO_WAYLAND_FUNCTIONS(X) \
    X(wl_display_connect) X(wl_display_disconnect) X(wl_display_get_fd) X(wl_display_flush) \
    X(wl_display_prepare_read) X(wl_display_read_events) X(wl_display_cancel_read) \
    X(wl_display_dispatch_pending) X(wl_display_get_error) X(wl_proxy_marshal_flags) \
    X(wl_proxy_add_listener) X(wl_proxy_destroy) X(wl_proxy_get_version) \
    X(wl_registry_interface) X(wl_callback_interface) X(wl_seat_interface)

TAVRO_LAZY_LIBRARY(WaylandLibrary, Wayland, "libwayland-client.so.0", TAVRO_WAYLAND_FUNCTIONS)

using Clock = std::chrono::steady_clock;

// Input-free time after which the compositor says "idled". Short, so that the idle time is
// exact beyond one second; it costs one idled/resumed pair per pause in the input.
constexpr quint32 NotifyTimeoutMs = 1000;
// How long the first exchange may hold the window thread (a compositor answers in well
// under a millisecond; one that hangs must not hang us).
constexpr int SetupWaitMs = 500;
// A compositor that failed or went away is tried again no sooner than this.
constexpr auto RetryAfter = std::chrono::seconds(5);

// A request on PROXY, creating an object of CREATED (or none) at VERSION.
template <class... Args>
wl_proxy *Request(void *proxy, quint32 opcode, const wl_interface *created, quint32 version, Args... args)
{
    return Wayland().wl_proxy_marshal_flags(static_cast<wl_proxy *>(proxy), opcode, created, version, 0, args...);
}

quint32 VersionOf(void *proxy)
{
    return Wayland().wl_proxy_get_version(static_cast<wl_proxy *>(proxy));
}

template <class Listener>
void Listen(wl_proxy *proxy, const Listener &listener, void *data)
{
    // libwayland takes the table as an array of function pointers and never writes to it.
    Wayland().wl_proxy_add_listener(proxy, reinterpret_cast<void (**)()>(const_cast<Listener *>(&listener)), data);
}

class IdleNotification {
public:
    std::optional<quint32> idleMs();

private:
    bool open();
    bool roundTrip();
    bool pump(int timeoutMs);
    void watch();
    void drop();
    void fail();

    static void global(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t);
    static void globalRemove(void *data, wl_registry *, uint32_t name);
    static void synced(void *data, wl_callback *, uint32_t);
    static void idled(void *data, ext_idle_notification_v1 *);
    static void resumed(void *data, ext_idle_notification_v1 *);
    static constexpr wl_registry_listener RegistryListener = {global, globalRemove};
    static constexpr wl_callback_listener SyncListener = {synced};
    static constexpr ext_idle_notification_v1_listener NotificationListener = {idled, resumed};

    QByteArray m_socket;      // the compositor this state belongs to
    bool m_notOffered = false; // it has no idle notifier: not asked again
    Clock::time_point m_retryAt;
    wl_display *m_display = nullptr;
    wl_proxy *m_registry = nullptr, *m_seat = nullptr, *m_notifier = nullptr, *m_notification = nullptr;
    quint32 m_seatName = 0, m_notifierName = 0;
    bool m_synced = false;
    bool m_lost = false; // the seat or the notifier was withdrawn
    bool m_idle = false;
    Clock::time_point m_idledAt;
    QPointer<QSocketNotifier> m_watcher;
};

void IdleNotification::global(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t)
{
    auto *self = static_cast<IdleNotification *>(data);
    // The first seat is the user's; a desktop session has one.
    if (!self->m_seatName && std::strcmp(interface, "wl_seat") == 0)
        self->m_seatName = name;
    else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
        self->m_notifierName = name;
}

void IdleNotification::globalRemove(void *data, wl_registry *, uint32_t name)
{
    auto *self = static_cast<IdleNotification *>(data);
    if (name == self->m_seatName || name == self->m_notifierName)
        self->m_lost = true;
}

void IdleNotification::synced(void *data, wl_callback *, uint32_t)
{
    static_cast<IdleNotification *>(data)->m_synced = true;
}

void IdleNotification::idled(void *data, ext_idle_notification_v1 *)
{
    auto *self = static_cast<IdleNotification *>(data);
    self->m_idle = true;
    self->m_idledAt = Clock::now();
}

void IdleNotification::resumed(void *data, ext_idle_notification_v1 *)
{
    static_cast<IdleNotification *>(data)->m_idle = false;
}

// Reads what the compositor sent, waiting at most TIMEOUTMS for it, and runs the listeners.
// False once the connection is broken.
bool IdleNotification::pump(int timeoutMs)
{
    const WaylandLibrary &w = Wayland();
    while (w.wl_display_prepare_read(m_display) != 0) {
        if (w.wl_display_dispatch_pending(m_display) < 0)
            return false;
    }
    if (w.wl_display_flush(m_display) < 0 && errno != EAGAIN) {
        w.wl_display_cancel_read(m_display);
        return false;
    }
    pollfd fd {w.wl_display_get_fd(m_display), POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) > 0) {
        // A compositor that went away reads as the end of the stream: an error here.
        if (w.wl_display_read_events(m_display) < 0)
            return false;
    } else {
        w.wl_display_cancel_read(m_display);
    }
    return w.wl_display_dispatch_pending(m_display) >= 0 && w.wl_display_get_error(m_display) == 0;
}

// Waits, bounded, until the compositor has handled every request sent so far.
bool IdleNotification::roundTrip()
{
    wl_proxy *callback = Request(m_display, WL_DISPLAY_SYNC, Wayland().wl_callback_interface, VersionOf(m_display), nullptr);
    if (!callback)
        return false;
    m_synced = false;
    Listen(callback, SyncListener, this);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(SetupWaitMs);
    bool ok = true;
    while (ok && !m_synced) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        ok = left > 0 && pump(int(left));
    }
    Wayland().wl_proxy_destroy(callback);
    return ok;
}

bool IdleNotification::open()
{
    const WaylandLibrary &w = Wayland();
    if (!w.loaded)
        return false;
    // WAYLAND_DISPLAY, else wayland-0, in XDG_RUNTIME_DIR: the compositor of this session.
    m_display = w.wl_display_connect(nullptr);
    if (!m_display)
        return false;
    m_registry = Request(m_display, WL_DISPLAY_GET_REGISTRY, w.wl_registry_interface, VersionOf(m_display), nullptr);
    if (!m_registry)
        return false;
    Listen(m_registry, RegistryListener, this);
    if (!roundTrip())
        return false;
    if (!m_seatName || !m_notifierName) {
        m_notOffered = true;
        return false;
    }
    m_seat = Request(m_registry, WL_REGISTRY_BIND, w.wl_seat_interface, 1, m_seatName, w.wl_seat_interface->name, 1u, nullptr);
    m_notifier = Request(m_registry, WL_REGISTRY_BIND, &ext_idle_notifier_v1_interface, 1, m_notifierName,
                         ext_idle_notifier_v1_interface.name, 1u, nullptr);
    if (!m_seat || !m_notifier)
        return false;
    // Idle is counted from here: the first question comes right after the user typed.
    m_notification = Request(m_notifier, EXT_IDLE_NOTIFIER_V1_GET_IDLE_NOTIFICATION, &ext_idle_notification_v1_interface,
                             VersionOf(m_notifier), nullptr, NotifyTimeoutMs, m_seat);
    if (!m_notification)
        return false;
    Listen(m_notification, NotificationListener, this);
    // A compositor that refuses the notification says so now, not at the next question.
    if (!roundTrip())
        return false;
    watch();
    return true;
}

// With an event loop on this thread the events are read as they come, so that "idled" is
// timed when it is sent, not at the next question.
void IdleNotification::watch()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    m_watcher = new QSocketNotifier(Wayland().wl_display_get_fd(m_display), QSocketNotifier::Read, app);
    QObject::connect(m_watcher, &QSocketNotifier::activated, app, [this] {
        if (m_display && !pump(0))
            fail();
    });
}

void IdleNotification::drop()
{
    if (m_watcher) {
        // It may be the notifier whose signal runs this.
        m_watcher->setEnabled(false);
        m_watcher->deleteLater();
    }
    if (m_display) {
        // Closing the connection frees the compositor's side: no requests needed.
        for (wl_proxy *proxy : {m_notification, m_notifier, m_seat, m_registry}) {
            if (proxy)
                Wayland().wl_proxy_destroy(proxy);
        }
        Wayland().wl_display_disconnect(m_display);
    }
    m_display = nullptr;
    m_registry = m_seat = m_notifier = m_notification = nullptr;
    m_seatName = m_notifierName = 0;
    m_lost = m_idle = false;
}

void IdleNotification::fail()
{
    drop();
    m_retryAt = Clock::now() + RetryAfter;
}

std::optional<quint32> IdleNotification::idleMs()
{
    const QByteArray socket = qgetenv("XDG_RUNTIME_DIR") + '\n' + qgetenv("WAYLAND_DISPLAY");
    if (socket != m_socket) {
        drop();
        m_socket = socket;
        m_notOffered = false;
        m_retryAt = {};
    }
    if (!m_display) {
        if (m_notOffered || Clock::now() < m_retryAt)
            return std::nullopt;
        if (!open()) {
            fail();
            return std::nullopt;
        }
    } else if (m_lost || !pump(0)) {
        fail();
        return std::nullopt;
    }
    if (!m_idle)
        return 0;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_idledAt).count();
    return quint32(std::min<qint64>(NotifyTimeoutMs + qint64(since), std::numeric_limits<quint32>::max()));
}

} // namespace

std::optional<quint32> WaylandNotifiedIdle()
{
    // Kept to the end of the process, which closes the connection: no teardown at exit,
    // when the library table and the application may be gone already.
    static auto *notification = new IdleNotification;
    return notification->idleMs();
}

} // namespace platform
