#include <QDialog>
#include <QDir>
#include <memory>

#include "app/application.h"
#include "app/commandline.h"
#include "app/configlink.h"
#include "app/login.h"
#include "app/netuse.h"
#include "app/pictures.h"
#include "config/csl.h"
#include "config/inifile.h"
#include "platform/memoryguard.h"
#include "platform/messageloop.h"
#include "platform/sessionend.h"

int main(int argc, char **argv)
{
    // Before any password can reach this process.
    platform::ProtectProcessMemory();
    if (HandleInformationSwitches(argc, argv))
        return 0;
    // A logon script's request to the running copy: no window, no single-instance guard.
    if (const int code = RunNetUseCommand(argc, argv); code >= 0)
        return code;
    TTavroApplication app(argc, argv);
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

    std::unique_ptr<TTavroNetLoginForm> form;
    try {
        // The single-instance guard acts while the window is built.
        form = std::make_unique<TTavroNetLoginForm>();
    } catch (...) {
        HandleException();
        return 1;
    }
    form->OnClose = [] { platform::Terminate(); };
    // The end of the desktop session closes the window: no log-off, connections stay.
    // An open modal window (the configuration window) closes first, as its close box would;
    // its nested loop returns before the program ends.
    platform::OnSessionEnd([window = form.get()] {
        for (int open = 0; open < 8; ++open) {
            auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!modal)
                break;
            modal->done(QDialog::Rejected);
        }
        window->close();
    });

    // The configuration window, created hidden; it lists the profile folder now.
    auto configure = std::make_unique<TFormConfigure>(form.get());
    ConnectConfigureWindow(*form, *configure);

    // A surplus copy has been asked to end: it never shows its window.
    if (platform::ShowMainForm() && !platform::Terminated())
        form->show();
    const int result = QApplication::exec();

    configure.reset();
    form.reset();
    return result;
}
