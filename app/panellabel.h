#pragma once

#include <QLabel>

// A panel caption that underlines its "&" letter without taking a keyboard
// shortcut: the panels are worked with the mouse only.
class TPanelLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
};
