#include "platform/messageloop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>

namespace platform {

namespace {
std::atomic<bool> g_terminated{false};
std::atomic<bool> g_showMainForm{true};
}

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool Terminated()
{
    return g_terminated.load();
}

void Terminate()
{
    g_terminated = true;
    // Queued, so that the rest of the current handler (or of start-up) still runs.
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool ShowMainForm()
{
    return g_showMainForm.load();
}

void SetShowMainForm(bool show)
{
    g_showMainForm = show;
}

} // namespace platform
