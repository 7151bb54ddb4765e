#pragma once

#include <QApplication>
#include <QString>

// The application title: task-bar text and the caption of every message box.
extern const QString ApplicationTitle;

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
