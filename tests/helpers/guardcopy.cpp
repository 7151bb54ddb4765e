// A copy of a program with a window and a single-instance guard, driven by the guard tests.
//   guardcopy LIMIT ENABLED [wait]
// Reports on stdout, one line each: "ready" (with "wait": then waits for "go" on stdin),
// "event H", "registered", "surplus", "inactive", "shown", "forward", "restored",
// "activated", "deactivated", "hidden", "count N H" / "count none", "exit". Commands on stdin:
// "minimize", "tray" (hidden with its minimised state recorded), "deactivate" (another window
// of this copy takes the focus), "disable" (the guard),
// "count", "quit";
// end of input quits too.
#include "components/adpInstanceControl.h"
#include "platform/messageloop.h"
#include "platform/paths.h"
#include "platform/sharedblock.h"

#include <QApplication>
#include <QEvent>
#include <QWindowStateChangeEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {

void Report(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Window : public QWidget {
protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::WindowStateChange) {
            const bool wasMinimized = static_cast<QWindowStateChangeEvent *>(event)->oldState() & Qt::WindowMinimized;
            if (isMinimized())
                Report(QStringLiteral("minimized"));
            else if (wasMinimized)
                Report(QStringLiteral("restored"));
        } else if (event->type() == QEvent::ActivationChange) {
            Report(isActiveWindow() ? QStringLiteral("activated") : QStringLiteral("deactivated"));
        }
        QWidget::changeEvent(event);
    }
};

// Unbuffered, so that nothing read ahead is lost between the blocking and the notified reads.
bool ReadLine(QByteArray &line)
{
    line.clear();
    char c;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    const quint32 limit = args.value(1, QStringLiteral("1")).toUInt();
    const bool enabled = args.value(2, QStringLiteral("1")) == QLatin1String("1");

    Window window;
    window.resize(200, 100);
    QWidget other;
    other.resize(100, 50);
    auto *guard = new TadpInstanceControl(&window);
    guard->setEnabled(enabled);
    guard->setMaxInstances(limit);
    guard->OnMaxInstancesReached = [](TadpInstanceControl *, quint32 handle) {
        Report(QStringLiteral("event %1").arg(handle));
    };
    QObject::connect(guard, &TadpInstanceControl::BroughtForward, [] { Report(QStringLiteral("forward")); });
    // Everything else is set up first, so that copies released together check at once.
    Report(QStringLiteral("ready"));
    QByteArray line;
    if (args.value(3) == QLatin1String("wait") && (!ReadLine(line) || line != "go"))
        return 1;
    guard->Loaded();
    Report(!enabled ? QStringLiteral("inactive")
                    : platform::ShowMainForm() ? QStringLiteral("registered") : QStringLiteral("surplus"));

    const QString blockName = TadpInstanceControl::MappingNameFor(platform::ExecutablePath());
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        if (!ReadLine(line) || line == "quit") {
            input.setEnabled(false);
            QApplication::quit();
        } else if (line == "disable") {
            guard->setEnabled(false);
        } else if (line == "minimize") {
            window.showMinimized();
        } else if (line == "tray") {
            // As the login window goes to the notification area after a logon.
            window.hide();
            window.setWindowState(window.windowState() | Qt::WindowMinimized);
            Report(QStringLiteral("hidden"));
        } else if (line == "deactivate") {
            other.show();
            other.activateWindow();
        } else if (line == "count") {
            platform::SharedBlock::View view{};
            Report(platform::SharedBlock::Peek(blockName, view)
                       ? QStringLiteral("count %1 %2").arg(view.Count).arg(view.Handle)
                       : QStringLiteral("count none"));
        }
    });

    if (platform::ShowMainForm()) {
        window.show();
        window.activateWindow();
        Report(QStringLiteral("shown"));
    }
    const int rc = app.exec();
    Report(QStringLiteral("exit"));
    return rc;
}
