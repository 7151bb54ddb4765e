#include "app/configlink.h"

#include <QLineEdit>

#include "app/application.h"
#include "app/login.h"
#include "config/csl.h"

void ConnectConfigureWindow(TTavroNetLoginForm &login, TFormConfigure &configure)
{
    login.FormConfigure = &configure;
    configure.OnException = HandleException;
    configure.OnClose = [&login] {
        login.show();
        login.ListProfiles();
        login.UsernameEdit->setFocus();
    };
}

void ConnectConfigureWindowLater(TTavroNetLoginForm &login)
{
    const TConfigureReading reading = ReadForConfigureWindow();
    if (reading.error) {
        try {
            std::rethrow_exception(reading.error);
        } catch (...) {
            HandleException();
        }
    }
    login.BuildFormConfigure = [&login, profiles = reading.profiles] {
        auto *configure = new TFormConfigure(TConfigureReading{profiles, nullptr}, &login);
        ConnectConfigureWindow(login, *configure);
        return configure;
    };
}
