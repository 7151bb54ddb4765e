// Network drives side by side with the desktop's and Samba's own tools, in one run against
// private Samba servers, a private session bus and gvfsd:
//   - mapping a drive: `tavrologin net use H: \\SRV\HOME` answered by a logged-on window,
//     command start to drive usable, against `gio mount` (command start to mount listed)
//     with the password on stdin;
//   - reading and writing 100 MB through ~/Network Drives/H against smbclient get / put;
//   - dropping ten drives (ten servers) at log-off.
//   drives_bench [rounds] [megabytes]     (default 15 rounds, 100 MB)
#include "app/login.h"
#include "config/inifile.h"
#include "platform/netprovider.h"
#include "tests/fixtures/DesktopSession.h"
#include "tests/fixtures/SambaServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString Password = QLatin1String(SambaServer::DefaultPassword);

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void Die(const QString &why)
{
    std::fprintf(stderr, "drives_bench: %s\n", qPrintable(why));
    std::exit(1);
}

// Runs a command with window messages flowing (the window answers net use); ms taken.
double Timed(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        p.waitForFinished(1);
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        Die(program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(" failed: ")
            + QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput()));
    return ms;
}

double TimedCopy(const QString &from, const QString &to)
{
    QElapsedTimer t;
    t.start();
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        Die(QStringLiteral("cannot copy %1 to %2").arg(from, to));
    QByteArray block(1 << 20, '\0');
    for (qint64 n; (n = in.read(block.data(), block.size())) > 0;)
        if (out.write(block.constData(), n) != n)
            Die(QStringLiteral("short write to ") + to);
    out.close();
    return double(t.nsecsElapsed()) / 1e6;
}

void Report(const char *what, const std::vector<double> &ours, const char *theirs, const std::vector<double> &base)
{
    const double a = Median(ours), b = Median(base);
    std::printf("%-34s %9.1f ms   %-22s %9.1f ms   ratio %.2f\n", what, a, theirs, b, a / b);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const int megabytes = argc > 2 ? std::max(1, atoi(argv[2])) : 100;

    QTemporaryDir home;
    const QString h = home.path();
    qputenv("HOME", QFile::encodeName(h));
    qputenv("XDG_DATA_HOME", QFile::encodeName(h + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(h + QStringLiteral("/config")));
    qputenv("TAVROLOGIN_COMMON_APPDATA", QFile::encodeName(h + QStringLiteral("/common")));
    QString error;
    if (!DesktopSession::start(&error))
        Die(error);
    std::vector<std::unique_ptr<SambaServer>> servers;
    for (int i = 0; i < 10; ++i) {
        servers.push_back(std::make_unique<SambaServer>());
        if (!servers.back()->start(&error))
            Die(error);
    }
    SambaServer &srv = *servers.front();
    srv.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGON.BAT"), "exit 0\n");

    // A logged-on window holding sessions to all ten servers (the logon share of the first,
    // IPC$ of the others, as a secondary server's logon leaves it).
    const QString data = h + QStringLiteral("/common/Tavro Login 2/");
    QDir().mkpath(data + QStringLiteral("config"));
    QFile ini(data + QStringLiteral("tavrologin.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        Die(QStringLiteral("no data folder"));
    ini.write("[TavroLogin]\r\nVersion=2.1.0\r\nDefault Profile=Bench.ini\r\n");
    ini.close();
    QFile profile(data + QStringLiteral("config/Bench.ini"));
    if (!profile.open(QIODevice::WriteOnly))
        Die(QStringLiteral("no profile"));
    profile.write(("[TavroLogin]\r\nServer=" + srv.server() + "\r\nLogon Script=LOGON.BAT\r\nNet Logon Share=NETLOGON_V2\r\n").toUtf8());
    profile.close();
    SetProfileDefaults();
    SetAppDefaults();
    TLoginSystemFacts facts;
    facts.InstanceControl = false;
    facts.SystemTrayAvailable = [] { return true; };
    TTavroNetLoginForm form(facts);
    form.show();
    form.UsernameEdit->setText(srv.user());
    form.PasswordEdit->setText(Password);
    form.LoginButtonClick();
    if (!form.LoggedOn)
        Die(QStringLiteral("the logon failed"));
    for (size_t i = 1; i < servers.size(); ++i) {
        if (platform::AddConnection(QString(), servers[i]->unc(QStringLiteral("IPC$")), srv.user(), Password) != 0)
            Die(QStringLiteral("no session to ") + servers[i]->server());
    }

    const QString program = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../app/tavrologin"));
    const QString homeShare = srv.unc(QStringLiteral("HOME"));
    // gio mount asks for the password on its terminal, or reads it from standard input.
    const QByteArray answer = "\n" + Password.toUtf8() + '\n'; // the domain (the default), the password
    const auto netUse = [&](const QStringList &args) {
        return Timed(program, QStringList{QStringLiteral("net"), QStringLiteral("use")} + args);
    };
    // Each round maps a share of another server: gvfsd-fuse takes about a second to serve
    // a share again that it has just seen unmounted, which the second figure shows.
    std::vector<double> map, gio, remap;
    netUse({QStringLiteral("H:"), homeShare});
    netUse({QStringLiteral("H:"), QStringLiteral("/delete")});
    for (int i = 0; i < rounds; ++i) {
        SambaServer &s = *servers[size_t(i) % servers.size()];
        map.push_back(netUse({QStringLiteral("H:"), s.unc(QStringLiteral("HOME"))}));
        if (!QFileInfo(QDir::homePath() + QStringLiteral("/Network Drives/H")).isSymLink())
            Die(QStringLiteral("H: is not visible after net use"));
        netUse({QStringLiteral("H:"), QStringLiteral("/delete")});
        const QString uri = QStringLiteral("smb://%1@%2/HOME").arg(s.user(), s.server());
        gio.push_back(Timed(QStringLiteral("gio"), {QStringLiteral("mount"), uri}, answer));
        Timed(QStringLiteral("gio"), {QStringLiteral("mount"), QStringLiteral("-u"), uri});
    }
    for (int i = 0; i < std::max(1, rounds / 3); ++i) {
        remap.push_back(netUse({QStringLiteral("H:"), homeShare}));
        netUse({QStringLiteral("H:"), QStringLiteral("/delete")});
    }

    // 100 MB each way, through the drive and through smbclient.
    netUse({QStringLiteral("H:"), homeShare});
    const QString drive = QDir::homePath() + QStringLiteral("/Network Drives/H/");
    QByteArray block(1 << 20, '\0');
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char(i * 31 + i / 4099);
    const QString local = h + QStringLiteral("/big.local");
    {
        QFile f(local);
        if (!f.open(QIODevice::WriteOnly))
            Die(QStringLiteral("no local file"));
        for (int i = 0; i < megabytes; ++i)
            f.write(block);
    }
    QFile credentials(h + QStringLiteral("/smbclient.auth"));
    if (!credentials.open(QIODevice::WriteOnly))
        Die(QStringLiteral("no credentials file"));
    credentials.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    credentials.write("username = " + srv.user().toUtf8() + "\npassword = " + Password.toUtf8() + "\n");
    credentials.close();
    const auto smbclient = [&](const QString &command) {
        return Timed(QStringLiteral("smbclient"), {QStringLiteral("//127.0.0.1/HOME"), QStringLiteral("-p"),
                                                  QString::number(srv.port()), QStringLiteral("-A"), credentials.fileName(),
                                                  QStringLiteral("-c"), command});
    };
    std::vector<double> readOurs, readTheirs, writeOurs, writeTheirs;
    const int copies = std::max(1, rounds / 3);
    for (int i = 0; i < copies; ++i) {
        // Each read is of a file the drive has not seen yet.
        const QString name = QStringLiteral("in%1.bin").arg(i);
        QFile::copy(local, srv.shareDir(QStringLiteral("HOME")) + QLatin1Char('/') + name);
        readOurs.push_back(TimedCopy(drive + name, h + QStringLiteral("/got.bin")));
        readTheirs.push_back(smbclient(QStringLiteral("get %1 %2/got2.bin").arg(name, h)));
        writeOurs.push_back(TimedCopy(local, drive + QStringLiteral("out%1.bin").arg(i)));
        writeTheirs.push_back(smbclient(QStringLiteral("put %1 put%2.bin").arg(local).arg(i)));
    }
    QFile::remove(credentials.fileName());
    netUse({QStringLiteral("H:"), QStringLiteral("/delete")});

    // Ten drives on ten servers, dropped as a log-off drops them.
    std::vector<double> drop;
    for (int i = 0; i < std::max(1, rounds / 3); ++i) {
        for (size_t s = 0; s < servers.size(); ++s)
            netUse({QString(QLatin1Char(char('E' + s))) + QLatin1Char(':'), servers[s]->unc(QStringLiteral("HOME"))});
        if (size_t(DesktopSession::mounts().size()) != servers.size())
            Die(QStringLiteral("not ten mounts"));
        QElapsedTimer t;
        t.start();
        form.DisconnectAllShares();
        drop.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!DesktopSession::mounts().isEmpty())
            Die(QStringLiteral("drives left after the drop"));
    }

    std::printf("drives_bench: %d rounds, %d MB files, medians\n", rounds, megabytes);
    Report("map a drive (net use)", map, "gio mount", gio);
    std::printf("%-34s %9.1f ms\n", "map again right after a drop", Median(remap));
    Report("read through ~/Network Drives/H", readOurs, "smbclient get", readTheirs);
    Report("write through ~/Network Drives/H", writeOurs, "smbclient put", writeTheirs);
    std::printf("%-34s %9.1f ms   (%.1f ms a drive)\n", "drop ten drives at log-off", Median(drop), Median(drop) / 10);
    return 0;
}
