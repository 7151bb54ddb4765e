#include "app/application.h"

#include <QMessageBox>

#include "platform/errors.h"
#include "platform/journal.h"

const QString ApplicationTitle = QStringLiteral("Tavro Login");

void HandleException()
{
    const QString text = ExceptionMessage(std::current_exception());
    platform::LogEvent(platform::LogError, QStringLiteral("Error box: ") + text);
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

bool TTavroApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException();
        return false;
    }
}
