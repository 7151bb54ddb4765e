#include "app/screensnap.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

QPoint SnappedPosition(const QRect &frame, const QRect &area, int distance)
{
    const auto snap = [distance](int pos, int size, int lo, int hi) {
        if (qAbs(pos - lo) <= distance)
            return lo;
        if (qAbs(pos + size - hi) <= distance)
            return hi - size;
        return pos;
    };
    return {snap(frame.x(), frame.width(), area.left(), area.right() + 1),
            snap(frame.y(), frame.height(), area.top(), area.bottom() + 1)};
}

TScreenSnap::TScreenSnap(QWidget *window, int distance) : QObject(window), FWindow(window), FDistance(distance)
{
    // The window manager moves the window while the user drags it; a move made in
    // the middle of that would fight it, so the snap waits until the window rests.
    FRest.setSingleShot(true);
    FRest.setInterval(150);
    connect(&FRest, &QTimer::timeout, this, &TScreenSnap::Snap);
    window->installEventFilter(this);
}

bool TScreenSnap::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::Move && FWindow->isVisible())
        FRest.start();
    return false;
}

void TScreenSnap::Snap()
{
    QScreen *screen = FWindow->screen();
    if (!screen || !FWindow->isVisible() || FWindow->isMinimized())
        return;
    const QRect frame = FWindow->frameGeometry();
    const QPoint to = SnappedPosition(frame, screen->availableGeometry(), FDistance);
    if (to != frame.topLeft())
        FWindow->move(to);
}
