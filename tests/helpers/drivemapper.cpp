// Maps one drive in a process of its own, as a client that may then be killed would.
//   drivemapper DRIVE \\SERVER\SHARE USER [hold]   (the password on standard input)
// Prints "CODE text" for the result; with "hold" it then waits to be killed.
#include "platform/netprovider.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4)
        return 2;
    QTextStream in(stdin);
    const QString password = in.readLine();
    const quint32 code = platform::AddConnection(args[1], args[2], args[3], password);
    std::printf("%u %s\n", code, qPrintable(platform::NetErrorText(code)));
    std::fflush(stdout);
    if (args.size() > 4 && args[4] == QLatin1String("hold"))
        for (;;)
            ::pause();
    return code == platform::NET_NO_ERROR ? 0 : 1;
}
