// Start-up, second-copy and idle figures of the login client, each in fresh processes.
//   login_bench startup [RUNS]       process start -> login window shown (offscreen), median,
//                                    against bare_widget (one Qt window) in the same run; the
//                                    child runs the program's own start (both windows)
//   login_bench second-copy [RUNS]   a second tavrologin next to a running one: start -> end
//   login_bench idle [SECONDS]       a client logged on to a private Samba server, left idle:
//                                    CPU share of one core and resident memory, and the
//                                    resident memory of the window before the logon
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <unistd.h>

#include "app/application.h"
#include "app/login.h"
#include "app/startup.h"

namespace {

qint64 MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The shared libraries mapped into a process, and how many of them are Samba's.
struct Libraries {
    int all = 0;
    int samba = 0;
};

Libraries MappedLibraries(const QString &pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    QSet<QByteArray> paths;
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const qsizetype slash = line.indexOf('/');
            if (slash >= 0 && line.mid(slash).contains(".so"))
                paths.insert(line.mid(slash));
        }
    }
    Libraries l;
    l.all = int(paths.size());
    for (const QByteArray &p : paths)
        l.samba += p.contains("/samba/") || p.contains("libsmbclient") ? 1 : 0;
    return l;
}

QString Program(const char *relative)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../") + QLatin1String(relative));
}

QProcessEnvironment PrivateEnv(const QTemporaryDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TAVROLOGIN_COMMON_APPDATA"), dir.path() + QStringLiteral("/common"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    return env;
}

// Child: the program's own start up to the shown window, then the time it was shown.
int ChildStartup(int argc, char **argv)
{
    TTavroApplication app(argc, argv);
    const TLoginClient client = StartLoginClient();
    if (!client.form || !client.form->isVisible())
        return 1;
    QCoreApplication::processEvents();
    const qint64 shown = MonotonicNs();
    std::printf("%lld %d\n", shown, MappedLibraries(QStringLiteral("self")).all);
    return 0;
}

// One child run: start -> window shown in ms, and the libraries loaded by then.
bool TimeChild(const QString &program, const QStringList &args, const QTemporaryDir &dir, double &ms, int &libraries)
{
    QProcess child;
    child.setProcessEnvironment(PrivateEnv(dir));
    child.setProcessChannelMode(QProcess::SeparateChannels);
    const qint64 start = MonotonicNs();
    child.start(program, args);
    if (!child.waitForFinished(30000) || child.exitCode() != 0) {
        std::fprintf(stderr, "startup child %s failed: %s\n", qPrintable(program), child.readAllStandardError().constData());
        return false;
    }
    const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
    ms = (out.value(0).toLongLong() - start) / 1e6;
    libraries = out.value(1).toInt();
    return true;
}

void PrintSpread(const char *what, const QList<double> &ms, int libraries)
{
    std::printf("%s: median %.1f ms, min %.1f, max %.1f over %d runs; %d shared libraries at the window\n", what,
                Median(ms), *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
                int(ms.size()), libraries);
}

int Startup(int runs)
{
    QTemporaryDir dir;
    const QString bare = QCoreApplication::applicationDirPath() + QStringLiteral("/bare_widget");
    QList<double> login, baseline;
    int loginLibraries = 0, bareLibraries = 0;
    // Side by side, alternating, so that the machine's load falls on both alike.
    for (int i = 0; i < runs + 1; ++i) {
        double a = 0, b = 0;
        if (!TimeChild(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-startup")}, dir, a,
                       loginLibraries)
            || !TimeChild(bare, {}, dir, b, bareLibraries))
            return 1;
        if (i > 0) { // the first run creates the settings files
            login << a;
            baseline << b;
        }
    }
    PrintSpread("startup to login window shown (offscreen)", login, loginLibraries);
    PrintSpread("startup to bare widget shown (offscreen)", baseline, bareLibraries);
    std::printf("login window / bare widget: %.2fx (median)\n", Median(login) / Median(baseline));
    return 0;
}

int SecondCopy(int runs)
{
    QTemporaryDir dir;
    const QString program = Program("app/tavrologin");
    QProcess first;
    first.setProcessEnvironment(PrivateEnv(dir));
    first.start(program, {});
    first.waitForStarted();
    const QString ini = dir.path() + QStringLiteral("/common/Tavro Login 2/tavrologin.ini");
    for (int i = 0; i < 200 && !QFile::exists(ini); ++i)
        QThread::msleep(50);
    QThread::msleep(300);
    const Libraries mapped = MappedLibraries(QString::number(first.processId()));
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        QProcess second;
        second.setProcessEnvironment(PrivateEnv(dir));
        QElapsedTimer clock;
        clock.start();
        second.start(program, {});
        if (!second.waitForFinished(10000)) {
            std::fprintf(stderr, "the second copy did not end\n");
            second.kill();
            second.waitForFinished();
            first.kill();
            first.waitForFinished();
            return 1;
        }
        ms << clock.nsecsElapsed() / 1e6;
    }
    const bool firstAlive = first.state() == QProcess::Running;
    if (!firstAlive)
        std::fprintf(stderr, "first copy ended: code %d, %s\n", first.exitCode(), first.readAllStandardError().constData());
    first.kill();
    first.waitForFinished();
    std::printf("second copy start to end: median %.1f ms, min %.1f, max %.1f over %d runs; first copy %s\n",
                Median(ms), *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
                int(ms.size()), firstAlive ? "still running" : "GONE");
    std::printf("the running first copy (window shown): %d shared libraries, %d of them Samba's\n", mapped.all,
                mapped.samba);
    return firstAlive ? 0 : 1;
}

// Child: logs on with the password from standard input, then sits idle in the loop.
int ChildIdle(int argc, char **argv)
{
    TTavroApplication app(argc, argv);
    const TLoginClient client = StartLoginClient();
    if (!client.form)
        return 1;
    TTavroNetLoginForm &form = *client.form;
    std::string password;
    std::getline(std::cin, password);
    form.UsernameEdit->setText(QStringLiteral("bench"));
    form.PasswordEdit->setText(QString::fromStdString(password));
    if (!form.ProcessLogin())
        return 1;
    form.MinimizeToSystemTray();
    std::printf("logged-on\n");
    std::fflush(stdout);
    return QApplication::exec();
}

bool ReadStat(qint64 pid, qint64 &ticks, qint64 &rssKb)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray s = stat.readAll();
    const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
    ticks = f.value(11).toLongLong() + f.value(12).toLongLong(); // utime + stime
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return true;
}

int Idle(int seconds)
{
    QTemporaryDir dir;
    const QString password = QStringLiteral("Bench-Pass-1");
    QDir().mkpath(dir.path() + QStringLiteral("/netlogon"));
    QFile logon(dir.path() + QStringLiteral("/netlogon/LOGON.BAT"));
    if (!logon.open(QIODevice::WriteOnly))
        return 1;
    logon.write("true\n");
    logon.close();

    QProcess server;
    server.start(Program("tests/samba-demo-server"),
                 {QStringLiteral("--netlogon"), dir.path() + QStringLiteral("/netlogon"), QStringLiteral("--user"),
                  QStringLiteral("bench"), QStringLiteral("--password-stdin")});
    server.write((password + QLatin1Char('\n')).toUtf8());
    QString serverName;
    for (int i = 0; i < 200 && serverName.isEmpty(); ++i) {
        server.waitForReadyRead(100);
        for (const QByteArray &line : server.readAllStandardOutput().split('\n'))
            if (line.startsWith("server="))
                serverName = QString::fromUtf8(line.mid(7));
    }
    if (serverName.isEmpty()) {
        std::fprintf(stderr, "samba-demo-server did not start: %s\n", server.readAllStandardError().constData());
        return 1;
    }
    const QString data = dir.path() + QStringLiteral("/common/Tavro Login 2/");
    QDir().mkpath(data + QStringLiteral("config"));
    QFile app(data + QStringLiteral("tavrologin.ini"));
    QFile profile(data + QStringLiteral("config/Bench.ini"));
    if (!app.open(QIODevice::WriteOnly) || !profile.open(QIODevice::WriteOnly))
        return 1;
    app.write("[TavroLogin]\r\nDefault Profile=Bench.ini\r\n");
    profile.write(QStringLiteral("[TavroLogin]\r\nServer=%1\r\nLogon Script=LOGON.BAT\r\nNet Logon Share=NETLOGON_V2\r\n"
                                 "Auto Logoff Time=30\r\n")
                      .arg(serverName)
                      .toUtf8());
    app.close();
    profile.close();

    QProcess client;
    client.setProcessEnvironment(PrivateEnv(dir));
    client.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-idle")});
    // The window waits for the password: that is the client idle before a logon.
    client.waitForStarted();
    QThread::sleep(3);
    qint64 ticksBefore = 0, rssBefore = 0;
    ReadStat(client.processId(), ticksBefore, rssBefore);
    client.write((password + QLatin1Char('\n')).toUtf8());
    if (!client.waitForReadyRead(30000) || !client.readAllStandardOutput().startsWith("logged-on")) {
        std::fprintf(stderr, "the client did not log on: %s\n", client.readAllStandardError().constData());
        client.kill();
        client.waitForFinished();
        server.terminate();
        server.waitForFinished();
        return 1;
    }
    QThread::sleep(2); // let the logon settle
    qint64 t0 = 0, t1 = 0, rss = 0;
    ReadStat(client.processId(), t0, rss);
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(seconds);
    ReadStat(client.processId(), t1, rss);
    const double wall = clock.nsecsElapsed() / 1e9;
    const double cpu = double(t1 - t0) / double(sysconf(_SC_CLK_TCK));
    client.kill();
    client.waitForFinished();
    server.terminate();
    server.waitForFinished();
    std::printf("idle client before a logon: resident %.1f MB\n", rssBefore / 1024.0);
    std::printf("idle logged-on client over %.1f s: CPU %.3f s = %.3f%% of a core; resident %.1f MB\n", wall, cpu,
                100.0 * cpu / wall, rss / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--child-startup")
        return ChildStartup(argc, argv);
    if (mode == "--child-idle")
        return ChildIdle(argc, argv);
    QCoreApplication app(argc, argv);
    const int n = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "startup")
        return Startup(n > 0 ? n : 21);
    if (mode == "second-copy")
        return SecondCopy(n > 0 ? n : 21);
    if (mode == "idle")
        return Idle(n > 0 ? n : 60);
    std::fprintf(stderr, "usage: login_bench startup|second-copy|idle [RUNS|SECONDS]\n");
    return 2;
}
