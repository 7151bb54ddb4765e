#include "app/application.h"

#include "app/statuslabel.h"
#include "platform/errors.h"
#include "platform/journal.h"

#include <QScreen>

namespace {

// The program's boxes open centred on the screen, also when a window owns them.
class TScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event); // sets the box's final size
        if (const QScreen *s = screen())
            move(s->availableGeometry().center() - rect().center());
    }
};

} // namespace

void ShowMessageBox(QMessageBox::Icon icon, const QString &text, const QString &objectName)
{
    // Owned by the window in front: a box without an owner is stacked below the
    // always-on-top login window and its modal configuration window, out of sight,
    // while it blocks both.
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    if (owner && !owner->isVisible())
        owner = nullptr;
    // Left as LF CR, the box's text document would draw an empty line for each CR.
    TScreenCentredBox box(icon, ApplicationTitle, DrawnText(text), QMessageBox::Ok, owner);
    box.setObjectName(objectName);
    box.exec();
}

void HandleException()
{
    const QString text = ExceptionMessage(std::current_exception());
    platform::LogEvent(platform::LogError, QStringLiteral("Error box: ") + text);
    ShowMessageBox(QMessageBox::Critical, text, QStringLiteral("ErrorBox"));
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
