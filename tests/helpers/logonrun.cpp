// One logon as the client does it, with the single-instance guard held, for tests that
// kill it at random moments.
//   logonrun SERVER SHARE USER SCRIPT     (the password on standard input)
// Prints "surplus" when another copy holds the guard, else "registered" and then
// "logon 1" or "logon 0 MESSAGE".
#include "components/adpInstanceControl.h"
#include "platform/messageloop.h"
#include "service/TavroNetService.h"

#include <QApplication>
#include <QTextStream>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5)
        return 2;
    QTextStream in(stdin);
    const QString password = in.readLine();
    QWidget window;
    auto *guard = new TadpInstanceControl(&window);
    guard->setEnabled(true);
    guard->setMaxInstances(1);
    guard->Loaded();
    if (!platform::ShowMainForm()) {
        std::printf("surplus\n");
        return 0;
    }
    std::printf("registered\n");
    std::fflush(stdout);
    TTavroNetService service(args[1], args[2], args[3], password);
    QString message;
    const bool ok = service.ConnectAndRunScript(args[4], message);
    std::printf("logon %d %s\n", ok ? 1 : 0, qPrintable(message));
    return ok ? 0 : 1;
}
