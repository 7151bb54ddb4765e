#pragma once

#include <QLabel>
#include <QStringList>

class QFontMetrics;

// A text as it is drawn: each line break (LF CR, CR LF, a lone LF or CR) is one "\n".
QString DrawnText(const QString &text);

// Breaks text into the lines drawn in the given width: at line breaks, then between
// words. A word wider than the line (a long path) is broken before one of its
// backslashes where it can be, never inside its leading backslashes.
QStringList WrapStatusText(const QString &text, const QFontMetrics &metrics, int width);

// The login window's status area: centred lines that never break a server path
// where it would read as another path.
class TStatusLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // The lines as painted at the label's present width.
    QStringList DrawnLines() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
