#include <QApplication>

#include "app/application.h"
#include "app/commandline.h"
#include "app/login.h"
#include "app/netuse.h"
#include "app/startup.h"
#include "platform/memoryguard.h"

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
    TLoginClient client = StartLoginClient();
    if (!client.form)
        return 1;
    const int result = QApplication::exec();
    client.form.reset();
    return result;
}
