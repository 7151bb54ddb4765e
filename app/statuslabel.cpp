#include "app/statuslabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

QString DrawnText(const QString &text)
{
    QString drawn = text;
    drawn.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    drawn.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    drawn.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return drawn;
}

namespace {

// Where to cut a word that does not fit: after the longest prefix that fits, moved
// back to just before a backslash when there is one past the leading ones.
qsizetype CutPoint(const QString &word, const QFontMetrics &metrics, int width)
{
    qsizetype lead = 0;
    while (lead < word.size() && word[lead] == QLatin1Char('\\'))
        ++lead;
    qsizetype fits = lead + 1;
    while (fits < word.size() && metrics.horizontalAdvance(word.left(fits + 1)) <= width)
        ++fits;
    const qsizetype slash = word.lastIndexOf(QLatin1Char('\\'), fits - 1);
    return slash > lead ? slash : fits;
}

} // namespace

QStringList WrapStatusText(const QString &text, const QFontMetrics &metrics, int width)
{
    QStringList lines;
    for (const QString &paragraph : DrawnText(text).split(QLatin1Char('\n'))) {
        QString line;
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.isEmpty())
                lines << line;
            line = word;
            while (line.size() > 1 && metrics.horizontalAdvance(line) > width) {
                const qsizetype cut = CutPoint(line, metrics, width);
                if (cut >= line.size())
                    break;
                lines << line.left(cut);
                line = line.mid(cut);
            }
        }
        lines << line;
    }
    return lines;
}

QStringList TStatusLabel::DrawnLines() const
{
    return WrapStatusText(text(), fontMetrics(), contentsRect().width());
}

void TStatusLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const int step = fontMetrics().lineSpacing();
    int top = area.top();
    for (const QString &line : DrawnLines()) {
        style()->drawItemText(&painter, QRect(area.left(), top, area.width(), step), Qt::AlignHCenter | Qt::AlignTop,
                              palette(), isEnabled(), line, foregroundRole());
        top += step;
    }
}
