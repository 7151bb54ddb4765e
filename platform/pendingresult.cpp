#include "platform/pendingresult.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>

namespace platform {

bool PendingResult::finish(const std::function<void()> &store)
{
    std::lock_guard lock(m_mutex);
    if (m_abandoned)
        return false;
    store();
    m_done = true;
    m_cv.notify_all();
    // By name, so that Qt alone builds and frees the queued call (as in TFindFile).
    if (m_wake)
        QMetaObject::invokeMethod(m_wake, "quit", Qt::QueuedConnection);
    return true;
}

bool PendingResult::wait(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        // A coarse timer may end the loop up to 5% early (most of a second for a network
        // call), and the rest of the wait below would then hold the window still.
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        bool wait = false;
        {
            std::lock_guard lock(m_mutex);
            if (!m_done) {
                m_wake = &loop;
                wait = true;
            }
        }
        if (wait) {
            timer.start(timeoutMs);
            loop.exec();
        }
        std::lock_guard lock(m_mutex);
        m_wake = nullptr;
    }
    // Off the window thread, or the loop ended early because the application is quitting.
    std::unique_lock lock(m_mutex);
    m_cv.wait_until(lock, deadline, [this] { return m_done; });
    if (!m_done)
        m_abandoned = true;
    return m_done;
}

} // namespace platform
