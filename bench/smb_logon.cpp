// Connect + copy + start of LOGON.BAT through the session service, against smbclient
// connecting and fetching the same file, side by side against one private Samba server.
//   smb_logon [rounds]     (default 30; prints the medians and their ratio)
#include "service/TavroNetService.h"
#include "tests/fixtures/SambaServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;

    // A private home: the local copy and the environment store land here.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");

    SambaServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "smb_logon: %s\n", qPrintable(error));
        return 1;
    }
    server.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGON.BAT"), "exit 0\n");
    const QString password = QLatin1String(SambaServer::DefaultPassword);

    auto ours = [&] {
        TTavroNetService svc(server.server(), QStringLiteral("NETLOGON_V2"), server.user(), password);
        QString message;
        if (!svc.ConnectAndRunScript(QStringLiteral("LOGON.BAT"), message)) {
            std::fprintf(stderr, "smb_logon: %s\n", qPrintable(message));
            std::exit(1);
        }
    };
    const QString target = home.path() + QStringLiteral("/smbclient-LOGON.BAT");
    auto baseline = [&] {
        QProcess smbclient;
        // Credentials through a pipe, never on the command line.
        smbclient.start(QStringLiteral("smbclient"),
                        {QStringLiteral("//127.0.0.1/NETLOGON_V2"), QStringLiteral("-p"), QString::number(server.port()),
                         QStringLiteral("-A"), QStringLiteral("/dev/stdin"), QStringLiteral("-c"),
                         QStringLiteral("get LOGON.BAT ") + target});
        smbclient.write("username = " + server.user().toUtf8() + "\npassword = " + password.toUtf8() + "\n");
        smbclient.closeWriteChannel();
        if (!smbclient.waitForFinished(30000) || smbclient.exitCode() != 0) {
            std::fprintf(stderr, "smb_logon: smbclient failed: %s\n", smbclient.readAll().constData());
            std::exit(1);
        }
    };

    ours(); // warm both up once
    baseline();
    std::vector<double> a, b;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        ours();
        a.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        baseline();
        b.push_back(t.nsecsElapsed() / 1e6);
    }
    const double ma = Median(a), mb = Median(b);
    std::printf("rounds: %d\n", rounds);
    std::printf("ConnectAndRunScript (connect + copy + run LOGON.BAT): median %.2f ms\n", ma);
    std::printf("smbclient (connect + get LOGON.BAT):                  median %.2f ms\n", mb);
    std::printf("ratio (ours / smbclient): %.3f\n", ma / mb);
    return 0;
}
