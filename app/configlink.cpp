#include "app/configlink.h"

#include <QComboBox>
#include <QLineEdit>

#include "app/application.h"
#include "app/login.h"
#include "config/csl.h"
#include "config/inifile.h"

void ConnectConfigureWindow(TTavroNetLoginForm &login, TFormConfigure &configure)
{
    login.FormConfigure = &configure;
    configure.OnException = HandleException;
    configure.OnClose = [&login] {
        login.show();
        login.Profiles->clear();
        login.ShowAllProfiles();
        const QString &startup = AppSettings.AppDefaultProfile;
        // Chosen by the program: the login window's own change handler does not run.
        login.Profiles->setCurrentIndex(
            login.Profiles->findText(startup.left(qMax(0, startup.size() - 4)), Qt::MatchFixedString));
        login.UsernameEdit->setFocus();
    };
}
