#include "platform/sessionend.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <windows.h>

namespace platform {

namespace {
// WM_ENDSESSION reaches every top-level window; the filter sees it once per window.
class SessionEndFilter : public QAbstractNativeEventFilter {
public:
    explicit SessionEndFilter(std::function<void()> handler) : m_handler(std::move(handler)) {}
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_ENDSESSION && msg->wParam && !m_done) {
            m_done = true;
            m_handler();
        }
        return false;
    }

private:
    std::function<void()> m_handler;
    bool m_done = false;
};
} // namespace

void OnSessionEnd(std::function<void()> handler)
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    app->installNativeEventFilter(new SessionEndFilter(std::move(handler)));
}

} // namespace platform
