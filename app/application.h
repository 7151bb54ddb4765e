#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include "utility/utility.h"

// Shows text in the standard message box (OK button, the application title), modal;
// each line break of the text is drawn as one.
void ShowMessageBox(QMessageBox::Icon icon, const QString &text, const QString &objectName);

// Shows the current exception (call inside a catch block) in the standard error box.
void HandleException();

// An error that escapes an event handler ends that handler only: it is shown in
// the standard error box and the program goes on.
class TTavroApplication : public QApplication {
    Q_OBJECT
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override;
};
