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
