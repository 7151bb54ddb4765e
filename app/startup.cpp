#include "app/startup.h"

#include <QApplication>
#include <QDialog>
#include <QDir>

#include "app/application.h"
#include "app/configlink.h"
#include "app/login.h"
#include "app/pictures.h"
#include "config/inifile.h"
#include "platform/messageloop.h"
#include "platform/sessionend.h"

TLoginClient StartLoginClient()
{
    // No display name: Qt would append it to every title bar.
    QApplication::setApplicationName(QStringLiteral("tavrologin"));
    QApplication::setWindowIcon(ProgramIcon(QStringLiteral(":/app/trayicon.png")));
    // The login window hides to the notification area: hiding it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Logon scripts find `tavrologin net use` beside the running program.
    const QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    const QString path = qEnvironmentVariable("PATH");
    if (!path.split(QDir::listSeparator()).contains(folder))
        qputenv("PATH", (path.isEmpty() ? folder : path + QDir::listSeparator() + folder).toLocal8Bit());

    // The settings' start values come before any window.
    SetProfileDefaults();
    SetAppDefaults();

    TLoginClient client;
    try {
        // The single-instance guard acts while the window is built.
        client.form = std::make_unique<TTavroNetLoginForm>();
    } catch (...) {
        HandleException();
        return client;
    }
    client.form->OnClose = [] { platform::Terminate(); };
    // The end of the desktop session closes the window: no log-off, connections stay.
    // An open modal window (the configuration window) closes first, as its close box would;
    // its nested loop returns before the program ends.
    platform::OnSessionEnd([window = client.form.get()] {
        for (int open = 0; open < 8; ++open) {
            auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!modal)
                break;
            modal->done(QDialog::Rejected);
        }
        window->close();
    });

    // The configuration window's creation: the settings, the start-up profile and the
    // profile folder's list are read now; the hidden window's controls wait for its first
    // showing, as nothing of them can be seen before.
    ConnectConfigureWindowLater(*client.form);

    // A surplus copy has been asked to end: it never shows its window.
    if (platform::ShowMainForm() && !platform::Terminated())
        client.form->show();
    return client;
}
