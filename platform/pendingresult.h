#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

class QEventLoop;

namespace platform {

// A result that another thread delivers, waited for with a bound. On the window thread
// the wait keeps window messages flowing; elsewhere it simply blocks.
class PendingResult {
public:
    // From the producing thread, once: store runs under the lock unless the waiter has
    // already given up, in which case nothing runs and the answer is false.
    bool finish(const std::function<void()> &store);
    // True when the result came within timeoutMs; otherwise the waiter gives up for good.
    bool wait(int timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    bool m_abandoned = false;
    QEventLoop *m_wake = nullptr;
};

} // namespace platform
