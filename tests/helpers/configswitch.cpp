// Starts the login window with the configuration window as the program does, with the
// process's own arguments, then hides and shows it again as a restore from the
// notification area does. Prints how often the configuration window opened and the
// status area's text. TAVRO_TEST_ADMIN=1 makes the user an administrator.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <cstdio>

#include "app/application.h"
#include "app/configlink.h"
#include "app/login.h"
#include "config/csl.h"
#include "config/inifile.h"

int main(int argc, char **argv)
{
    TTavroApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SetProfileDefaults();
    SetAppDefaults();

    TLoginSystemFacts facts;
    facts.Administrator = [] { return qEnvironmentVariable("TAVRO_TEST_ADMIN") == QLatin1String("1"); };
    facts.RemoteSession = [] { return false; };
    facts.OSVersionInfo = [] {
        TOSVersionInfo info;
        info.OSMajorNumber = 10;
        return info;
    };
    facts.InstanceControl = false;
    TTavroNetLoginForm login(facts);
    TFormConfigure configure(&login);
    ConnectConfigureWindow(login, configure);

    int opened = 0;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() == &configure) {
            ++opened;
            configure.close();
        }
    });
    closer.start();

    login.show();
    QApplication::processEvents();
    login.hide();
    login.show();
    QApplication::processEvents();
    std::printf("opened %d\nstatus %s\n", opened, qPrintable(login.MessagesLabel->text().trimmed()));
    return 0;
}
