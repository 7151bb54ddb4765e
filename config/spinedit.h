#pragma once

#include <QSpinBox>

// A number box that takes whatever is typed and settles it when the value is read or
// the focus leaves: text that is not a number counts as the minimum, values outside
// the range are pulled to the nearer bound, values between the steps stay.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    // The value the current text stands for.
    int Value() const;

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    int valueFromText(const QString &text) const override;
    void keyPressEvent(QKeyEvent *event) override;
};
