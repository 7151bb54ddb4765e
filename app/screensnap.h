#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QTimer>

class QWidget;

// Where a window's frame goes when it comes to rest: an edge within distance of the
// work area's edge is moved onto it.
QPoint SnappedPosition(const QRect &frame, const QRect &area, int distance);

// Snaps a top-level window to its screen's work-area edges once it stops moving.
// Works where the window system lets a program place its own window (X11,
// Windows); a Wayland compositor places windows itself and ignores the move.
class TScreenSnap : public QObject {
public:
    explicit TScreenSnap(QWidget *window, int distance = 10);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Snap();
    QWidget *FWindow;
    int FDistance;
    QTimer FRest;
};
