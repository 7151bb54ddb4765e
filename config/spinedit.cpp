#include "config/spinedit.h"

#include <QKeyEvent>
#include <QLineEdit>

TSpinEdit::TSpinEdit(QWidget *parent) : QSpinBox(parent)
{
    // The bounds are applied by QSpinBox whenever a value is set; the correction on
    // focus loss rewrites the text from the settled value.
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int TSpinEdit::Value() const
{
    return qBound(minimum(), valueFromText(text()), maximum());
}

QValidator::State TSpinEdit::validate(QString &input, int &pos) const
{
    Q_UNUSED(pos);
    // Every text is accepted while typing, so the value follows the text at once
    // (an intermediate text would leave the old value standing until focus loss).
    if (input.size() > lineEdit()->maxLength())
        return QValidator::Invalid;
    return QValidator::Acceptable;
}

int TSpinEdit::valueFromText(const QString &text) const
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : minimum();
}

void TSpinEdit::keyPressEvent(QKeyEvent *event)
{
    // Typing takes digits and signs only; other text (pasted, or set by the program)
    // still counts as the minimum.
    const QString typed = event->text();
    if (typed.size() == 1 && typed.at(0).isPrint() && !typed.at(0).isDigit() && typed != u"-" && typed != u"+") {
        event->accept(); // swallowed
        return;
    }
    QSpinBox::keyPressEvent(event);
}
