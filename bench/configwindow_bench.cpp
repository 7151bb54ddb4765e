// Times the configuration window against a profile folder of many profiles:
//   configwindow_bench [--profiles N] [--runs R] [--grab FILE.png] [--page 0|1]
// "open" is creating the window (which lists the folder) and showing it; "login list"
// is the login window emptying and refilling its profile list and selecting the
// start-up profile, as it does whenever the configuration window closes.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "app/application.h"
#include "app/configlink.h"
#include "app/login.h"
#include "config/csl.h"
#include "config/inifile.h"

namespace {

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    TTavroApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    int profiles = 1000;
    int runs = 15;
    int page = 0;
    QString grab;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--profiles"))
            profiles = args[++i].toInt();
        else if (args[i] == QLatin1String("--runs"))
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--grab"))
            grab = args[++i];
        else if (args[i] == QLatin1String("--page"))
            page = args[++i].toInt();
    }

    QTemporaryDir home;
    qputenv("TAVROLOGIN_COMMON_APPDATA", QFile::encodeName(home.path()));
    SetProfileDefaults();
    SetAppDefaults();
    QDir().mkpath(GetProfileFolder());
    for (int i = 0; i < profiles; ++i) {
        QFile f(GetProfileFolder() + QStringLiteral("Site %1.ini").arg(i, 4, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QStringLiteral("[TavroLogin]\r\nServer=SRV%1\r\nLogon Script=LOGON.BAT\r\nRemote Server=\r\n"
                               "Auto Logoff Time=%2\r\nEnable Remote Message=1\r\n"
                               "Remote Message=Working remotely\r\nNet Logon Share=NETLOGON_V2\r\n")
                    .arg(i)
                    .arg(i % 4 * 15)
                    .toUtf8());
    }
    AppSettings.AppDefaultProfile = QStringLiteral("Site %1.ini").arg(profiles / 2, 4, 10, QLatin1Char('0'));
    WriteAppSettings();

    TLoginSystemFacts facts;
    facts.Administrator = [] { return true; };
    facts.RemoteSession = [] { return false; };
    facts.InstanceControl = false;
    TTavroNetLoginForm login(facts);

    QList<double> open, list;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        auto configure = std::make_unique<TFormConfigure>(&login);
        configure->show();
        open << timer.nsecsElapsed() / 1e6;
        ConnectConfigureWindow(login, *configure);
        if (!grab.isEmpty() && run == 0) {
            configure->PageControl1->setCurrentIndex(page);
            QApplication::processEvents();
            configure->grab().save(grab);
        }
        configure->hide();

        timer.restart();
        configure->OnClose();
        list << timer.nsecsElapsed() / 1e6;
        if (login.Profiles->count() != profiles)
            return 2;
    }
    std::printf("profiles: %d, runs: %d\n", profiles, runs);
    std::printf("open configuration window: median %.1f ms, max %.1f ms\n", Median(open),
                *std::max_element(open.begin(), open.end()));
    std::printf("fill login window list:    median %.1f ms, max %.1f ms\n", Median(list),
                *std::max_element(list.begin(), list.end()));
    return 0;
}
