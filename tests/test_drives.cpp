#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/login.h"
#include "app/netuserequest.h"
#include "config/inifile.h"
#include "platform/localipc.h"
#include "platform/netprovider.h"
#include "tests/fixtures/DesktopSession.h"
#include "tests/fixtures/SambaServer.h"
#include "tests/fixtures/TempEnv.h"

using namespace Qt::StringLiterals;

namespace {

const QString Password = QLatin1String(SambaServer::DefaultPassword);
const QString Program = QStringLiteral(TAVRO_BINARY_DIR "/app/tavrologin");

struct Ran {
    int exit = -1;
    QString out, err;
};

// Runs a command while this thread's window messages keep flowing: the window under test
// answers the command's requests.
Ran RunDispatching(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    (void)QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 60000);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

Ran NetUse(const QStringList &args)
{
    return RunDispatching(Program, QStringList{u"net"_s, u"use"_s} + args);
}

QString Bookmarks()
{
    QFile f(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u"/gtk-3.0/bookmarks"_s);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString Drive(const QString &letter)
{
    return QDir::homePath() + u"/Network Drives/"_s + letter;
}

// What a person would find of drive letter after it was dropped: nothing at all.
void ExpectGone(const QString &letter)
{
    EXPECT_FALSE(QFileInfo(Drive(letter)).isSymLink()) << qPrintable(letter);
    EXPECT_FALSE(Bookmarks().contains(letter + u": "_s)) << qPrintable(Bookmarks());
    EXPECT_FALSE(platform::IsRemoteDrive(letter + u':'));
}

class Drives : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProfileDefaults(), SetAppDefaults();
        QString error;
        ASSERT_TRUE(DesktopSession::start(&error)) << qPrintable(error);
        ASSERT_TRUE(samba.start(&error)) << qPrintable(error);
        out = home.path() + u"/out/"_s;
        QDir().mkpath(out);
        // Logon scripts find the command on their PATH, as the package's users do.
        env.set("PATH", QFile::encodeName(QFileInfo(Program).path()) + ':' + qgetenv("PATH"));
        env.set("TAVROLOGIN_USERNAME", QByteArray());
    }
    void TearDown() override
    {
        platform::CancelDevicelessConnections();
        for (char d = 'E'; d <= 'Z'; ++d)
            platform::CancelConnection(QString(QLatin1Char(d)) + u':', true);
    }

    // A profile whose LOGON.BAT runs these lines, each recording its exit code.
    void useScript(const QStringList &commands, const QStringList &extra = {})
    {
        QString body;
        for (const QString &c : commands)
            body += c + u" >> '%1netuse.txt' 2>&1; echo \"exit $?\" >> '%1netuse.txt'\n"_s.arg(out);
        ASSERT_TRUE(samba.putFile(u"NETLOGON_V2"_s, u"LOGON.BAT"_s, body.toUtf8()));
        const QString folder = home.commonAppData() + u"/Tavro Login 2/"_s;
        QDir().mkpath(folder + u"config"_s);
        QFile ini(folder + u"tavrologin.ini"_s);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[TavroLogin]\r\nVersion=2.1.0\r\nDefault Profile=Demo.ini\r\n");
        ini.close();
        QFile profile(folder + u"config/Demo.ini"_s);
        ASSERT_TRUE(profile.open(QIODevice::WriteOnly));
        const QStringList lines = QStringList{u"[TavroLogin]"_s, u"Server="_s + samba.server(), u"Logon Script=LOGON.BAT"_s,
                                              u"Net Logon Share=NETLOGON_V2"_s} + extra;
        profile.write((lines.join(u"\r\n"_s) + u"\r\n"_s).toUtf8());
    }

    std::unique_ptr<TTavroNetLoginForm> logOn()
    {
        TLoginSystemFacts facts;
        facts.InstanceControl = false;
        facts.IdleMilliseconds = [this] { return idle; };
        facts.SystemTrayAvailable = [] { return true; };
        auto form = std::make_unique<TTavroNetLoginForm>(facts);
        form->show();
        form->UsernameEdit->setText(samba.user());
        form->PasswordEdit->setText(Password);
        form->LoginButtonClick();
        return form;
    }

    QString recorded() const
    {
        QFile f(out + u"netuse.txt"_s);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString home_unc() const { return samba.unc(u"HOME"_s); }

    TempHome home;
    SambaServer samba;
    QString out;
    ScopedEnv env;
    quint32 idle = 0;
};

} // namespace

TEST_F(Drives, ALogonScriptMapsADriveEveryProgramSeesAndEveryWayOutDropsIt)
{
    enum Way { ManualLogoff, IdleLogoff, Exit };
    for (Way way : {ManualLogoff, IdleLogoff, Exit}) {
        SCOPED_TRACE(way);
        QFile::remove(out + u"netuse.txt"_s);
        useScript({u"tavrologin net use H: '%1'"_s.arg(home_unc()), u"tavrologin net use"_s}, {u"Auto Logoff Time=1"_s});
        auto form = logOn();
        ASSERT_TRUE(form->LoggedOn);
        const QString script = recorded();
        EXPECT_TRUE(script.startsWith(u"The command completed successfully.\nexit 0\n"_s)) << qPrintable(script);
        EXPECT_TRUE(script.contains(QRegularExpression(u"OK +H: +"_s + QRegularExpression::escape(home_unc()) + u"\n"_s, QRegularExpression::CaseInsensitiveOption)))
            << qPrintable(script);

        // The drive is the session's: a file written through its link lands on the server
        // as the server's account for that user.
        ASSERT_TRUE(QFileInfo(Drive(u"H"_s)).isSymLink());
        EXPECT_TRUE(QFileInfo(Drive(u"H"_s)).symLinkTarget().startsWith(DesktopSession::fuseRoot() + u'/'));
        EXPECT_TRUE(platform::IsRemoteDrive(u"h:"_s));
        EXPECT_TRUE(Bookmarks().contains(u" H: home on 127.0.0.1"_s)) << qPrintable(Bookmarks());
        const QString report = u"report%1.txt"_s.arg(int(way));
        {
            QFile f(Drive(u"H"_s) + u'/' + report);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("written through H:\n");
        }
        QFile onServer(samba.shareDir(u"HOME"_s) + u'/' + report);
        ASSERT_TRUE(onServer.open(QIODevice::ReadOnly));
        EXPECT_EQ(onServer.readAll(), QByteArray("written through H:\n"));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(onServer.fileName()).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, ::getpwnam("nobody")->pw_uid);

        // A file held open on the drive does not keep it.
        QFile held(Drive(u"H"_s) + u"/held%1.txt"_s.arg(int(way)));
        ASSERT_TRUE(held.open(QIODevice::WriteOnly));
        held.write("x");
        held.flush();
        switch (way) {
        case ManualLogoff: form->LogOffMenu->trigger(); break;
        case IdleLogoff:
            idle = 60001;
            form->SystemIdleTimerTimer();
            idle = 0;
            break;
        case Exit: form->ExitMenu->trigger(); break;
        }
        EXPECT_FALSE(form->LoggedOn);
        ExpectGone(u"H"_s);
        EXPECT_EQ(DesktopSession::mounts(), QStringList{});
        held.close();

        // The user who left has no session for the next person's scripts to use.
        const Ran again = NetUse({u"H:"_s, home_unc()});
        EXPECT_EQ(again.exit, 2);
        EXPECT_EQ(again.err, u"System error 1312 (H: %1): no session for this server.\n"_s.arg(home_unc()));
        ExpectGone(u"H"_s);
    }
}

TEST_F(Drives, NetUseAnswersWithWindowsCodesAndReachesTheSecondaryServerOnlyAfterItsLogon)
{
    SambaServer second;
    QString error;
    ASSERT_TRUE(second.start(&error)) << qPrintable(error);
    const QString secondHome = second.unc(u"HOME"_s);
    // The script runs before the secondary server's logon: no session there yet.
    useScript({u"tavrologin net use I: '%1'"_s.arg(secondHome)}, {u"Remote Server="_s + second.server()});
    auto form = logOn();
    ASSERT_TRUE(form->LoggedOn);
    EXPECT_EQ(recorded(), u"System error 1312 (I: %1): no session for this server.\nexit 2\n"_s.arg(secondHome));

    EXPECT_EQ(NetUse({u"I:"_s, secondHome}).exit, 0);
    EXPECT_TRUE(QFileInfo(Drive(u"I"_s)).isSymLink());
    const struct {
        QStringList args;
        int exit;
        QString err;
    } rows[] = {
        {{u"i:"_s, home_unc()}, 2, u"System error 85 (I: %1): the local device name is already in use.\n"_s.arg(home_unc())},
        {{u"J:"_s, samba.unc(u"NOSUCH"_s)}, 2,
         u"System error 67 (J: %1): the network name cannot be found.\n"_s.arg(samba.unc(u"NOSUCH"_s))},
        {{u"J:"_s, u"\\\\127.0.0.1:1\\HOME"_s}, 2,
         u"System error 1312 (J: \\\\127.0.0.1:1\\HOME): no session for this server.\n"_s},
        {{u"J:"_s, home_unc(), u"/user:tavrotest"_s, Password}, 2,
         u"tavrologin net use: tavrologin net use takes no credentials: the running client connects with the session it holds for the server.\n"_s},
        {{u"K:"_s, u"/delete"_s}, 2, u"System error 2250 (K:): the network connection could not be found.\n"_s},
    };
    for (const auto &row : rows) {
        const Ran r = NetUse(row.args);
        EXPECT_EQ(r.exit, row.exit) << qPrintable(row.args.join(u' '));
        EXPECT_EQ(r.err, row.err) << qPrintable(row.args.join(u' '));
    }
    ExpectGone(u"J"_s);

    // "*" takes the last free letter; the list shows drives, then the sessions the client holds.
    const Ran star = NetUse({u"*"_s, home_unc(), u"/persistent:no"_s});
    EXPECT_EQ(star.exit, 0) << qPrintable(star.err);
    EXPECT_EQ(star.out, u"Drive Z: is now connected to %1.\n\nThe command completed successfully.\n"_s.arg(home_unc()));
    const Ran list = NetUse({});
    EXPECT_EQ(list.exit, 0);
    const QStringList listed = list.out.split(u'\n').filter(u"OK"_s);
    ASSERT_EQ(listed.size(), 4) << qPrintable(list.out);
    // GVfs names a mounted share in lower case.
    EXPECT_TRUE(listed[0].contains(u"I:"_s) && listed[0].endsWith(secondHome, Qt::CaseInsensitive)) << qPrintable(list.out);
    EXPECT_TRUE(listed[1].contains(u"Z:"_s) && listed[1].endsWith(home_unc(), Qt::CaseInsensitive)) << qPrintable(list.out);
    EXPECT_TRUE(listed[2].endsWith(samba.unc(u"NETLOGON_V2"_s)));
    EXPECT_TRUE(listed[3].endsWith(second.unc(u"IPC$"_s)));

    EXPECT_EQ(NetUse({u"Z:"_s, u"/d"_s}).out, u"Z: was deleted successfully.\n"_s);
    EXPECT_EQ(NetUse({u"I:"_s, u"/DELETE"_s}).exit, 0);
    ExpectGone(u"I"_s);
    ExpectGone(u"Z"_s);
    EXPECT_EQ(DesktopSession::mounts(), QStringList{});
}

TEST_F(Drives, ProviderCodesForDrivesAndNoGvfsMeansAClearErrorAtOnce)
{
    const QString helper = QStringLiteral(TAVRO_TEST_HELPERS_DIR "/drivemapper");
    const struct {
        QString remote;
        QString password;
        QString answer;
    } rows[] = {
        {home_unc(), u"wrong"_s, u"1326 the user name or password is incorrect.\n"_s},
        {samba.unc(u"NOSUCH"_s), Password, u"67 the network name cannot be found.\n"_s},
        {u"\\\\127.0.0.1:1\\HOME"_s, Password, u"53 the network path was not found.\n"_s},
    };
    for (const auto &row : rows) {
        const Ran r = RunDispatching(helper, {u"G:"_s, row.remote, samba.user()}, (row.password + u'\n').toUtf8());
        EXPECT_EQ(r.out.toStdString(), row.answer.toStdString()) << qPrintable(row.remote);
        ExpectGone(u"G"_s);
    }

    // A server that takes the connection and never answers: given up within the timeout.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QElapsedTimer waited;
    waited.start();
    const Ran late = RunDispatching(helper, {u"G:"_s, u"\\\\127.0.0.1:%1\\HOME"_s.arg(silent.serverPort()), samba.user()},
                                    (Password + u'\n').toUtf8());
    EXPECT_EQ(late.out.toStdString(), "121 the server did not answer in time.\n");
    EXPECT_LT(waited.elapsed(), platform::NetTimeout() + 3000);
    ExpectGone(u"G"_s);

    // No session bus and no GVfs: the drive fails at once and says what is missing.
    QTemporaryDir bare;
    ScopedEnv noDesktop;
    noDesktop.unset("DBUS_SESSION_BUS_ADDRESS");
    noDesktop.set("XDG_RUNTIME_DIR", QFile::encodeName(bare.path()));
    QElapsedTimer clock;
    clock.start();
    const Ran r = RunDispatching(helper, {u"G:"_s, home_unc(), samba.user()}, (Password + u'\n').toUtf8());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(r.out.toStdString(), u"1222 network drives need the desktop's GVfs service: gvfs-backends and gvfs-fuse (no session bus).\n"_s.toStdString());
}

TEST_F(Drives, DrivesOfACrashedClientGoAtTheNextLogonAndThoseOfAnEndedSessionAtTheStart)
{
    QProcess crashed;
    crashed.start(QStringLiteral(TAVRO_TEST_HELPERS_DIR "/drivemapper"), {u"K:"_s, home_unc(), samba.user(), u"hold"_s});
    crashed.write((Password + u'\n').toUtf8());
    ASSERT_TRUE(crashed.waitForReadyRead(20000));
    EXPECT_EQ(crashed.readLine().toStdString(), "0 the command completed successfully.\n");
    crashed.kill();
    crashed.waitForFinished(5000);
    EXPECT_TRUE(platform::IsRemoteDrive(u"K:"_s));
    EXPECT_EQ(DesktopSession::mounts().size(), 1);

    useScript({u"true"_s});
    auto form = logOn();
    ASSERT_TRUE(form->LoggedOn);
    ExpectGone(u"K"_s);

    // A desktop session that ended with someone logged on took its mount along but left
    // the link and the bookmark naming that person; the next start withdraws them. A
    // drive whose mount is still there stays.
    ASSERT_TRUE(NetUse({u"M:"_s, home_unc()}).exit == 0);
    QDir().mkpath(QDir::homePath() + u"/Network Drives"_s);
    ASSERT_TRUE(QFile::link(DesktopSession::fuseRoot() + u"/smb-share:server=127.0.0.1,share=home,user=lastone"_s,
                            Drive(u"L"_s)));
    {
        QFile bookmarks(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u"/gtk-3.0/bookmarks"_s);
        ASSERT_TRUE(bookmarks.open(QIODevice::Append));
        bookmarks.write("smb://lastone@127.0.0.1/home/ L: home on 127.0.0.1\n");
    }
    form.reset();
    TLoginSystemFacts facts;
    facts.InstanceControl = false;
    TTavroNetLoginForm next(facts);
    ExpectGone(u"L"_s);
    EXPECT_TRUE(platform::IsRemoteDrive(u"M:"_s));
    EXPECT_TRUE(Bookmarks().contains(u" M: "_s)) << qPrintable(Bookmarks());
}

TEST_F(Drives, OnlyTheSameUserIsServedAndThePasswordIsLeftNowhere)
{
    useScript({u"tavrologin net use H: '%1'"_s.arg(home_unc())});
    auto form = logOn();
    ASSERT_TRUE(form->LoggedOn);
    ASSERT_TRUE(platform::IsRemoteDrive(u"H:"_s));

    // Another account can neither reach the socket's folder nor pass the peer check.
    const QString name = platform::PrivateSocketName(u"net-use"_s);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(name).path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const Ran other = RunDispatching(u"setpriv"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, Program,
                                                   u"net"_s, u"use"_s, u"J:"_s, home_unc()});
    EXPECT_EQ(other.exit, 2);
    EXPECT_FALSE(platform::IsRemoteDrive(u"J:"_s));

    QTemporaryDir open;
    ::chmod(QFile::encodeName(open.path()).constData(), 0755);
    const QByteArray path = QFile::encodeName(open.path() + u"/s"_s);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, path.constData(), sizeof addr.sun_path);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::chmod(path.constData(), 0777);
    ASSERT_EQ(::listen(listener, 2), 0);
    for (bool sameUser : {true, false}) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (!sameUser && ::setuid(::getpwnam("nobody")->pw_uid) != 0)
                _exit(3);
            const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            _exit(::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 ? 0 : 4);
        }
        const int peer = ::accept(listener, nullptr, nullptr);
        EXPECT_EQ(platform::PeerIsSameUser(peer), sameUser);
        ::close(peer);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ::close(listener);

    form->LogOffMenu->trigger();
    ExpectGone(u"H"_s);

    // Not in a file under the home or runtime folders (keyrings included), not on any
    // command line, not in any environment.
    const QByteArray secret = Password.toUtf8();
    for (const QString &root : {home.path(), DesktopSession::runtimeDir()}) {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            if (file.startsWith(DesktopSession::fuseRoot()))
                continue;
            QFile f(file);
            if (f.open(QIODevice::ReadOnly)) {
                EXPECT_FALSE(f.readAll().contains(secret)) << qPrintable(file);
            }
        }
    }
    const QStringList pids = QDir(u"/proc"_s).entryList(QDir::Dirs).filter(QRegularExpression(u"^\\d+$"_s));
    for (const QString &pid : pids) {
        for (const char *part : {"cmdline", "environ"}) {
            QFile f(u"/proc/"_s + pid + u'/' + QLatin1String(part));
            if (f.open(QIODevice::ReadOnly)) {
                EXPECT_FALSE(f.readAll().contains(secret)) << qPrintable(f.fileName());
            }
        }
    }
}

TEST(NetUseRequests, ArgumentsAndLinesAreParsedStrictly)
{
    using R = TNetUseRequest;
    const struct {
        QStringList args;
        std::optional<R> request;
    } rows[] = {
        {{}, R{R::List, {}, {}}},
        {{u"h:"_s, u"\\\\SRV\\home"_s}, R{R::Map, u"H:"_s, u"\\\\SRV\\home"_s}},
        {{u"*"_s, u"\\\\SRV\\home"_s, u"/PERSISTENT:NO"_s}, R{R::Map, u"*"_s, u"\\\\SRV\\home"_s}},
        {{u"\\\\SRV:1445\\share"_s}, R{R::Map, {}, u"\\\\SRV:1445\\share"_s}},
        {{u"h:"_s, u"/d"_s}, R{R::Delete, {}, u"H:"_s}},
        {{u"\\\\SRV\\share"_s, u"/delete"_s}, R{R::Delete, {}, u"\\\\SRV\\share"_s}},
        {{u"H:"_s}, std::nullopt},
        {{u"H:"_s, u"\\\\SRV\\home"_s, u"secret"_s}, std::nullopt},
        {{u"H:"_s, u"\\\\SRV\\home"_s, u"/user:me"_s}, std::nullopt},
        {{u"HH:"_s, u"\\\\SRV\\home"_s}, std::nullopt},
        {{u"H:"_s, u"SRV\\home"_s}, std::nullopt},
        // A drive is an ASCII letter (a dotless i upper-cases to I) and a share names a server.
        {{u"\u0131:"_s, u"\\\\SRV\\home"_s}, std::nullopt},
        {{u"H:"_s, u"\\\\\\home"_s}, std::nullopt},
        {{u"\\\\\\"_s, u"/delete"_s}, std::nullopt},
        {{u"H:"_s, u"\\\\SRV\\ho\nme"_s}, std::nullopt},
        {{u"/bogus"_s}, std::nullopt},
    };
    for (const auto &row : rows) {
        QString error;
        const std::optional<R> parsed = ParseNetUseArguments(row.args, &error);
        EXPECT_EQ(parsed, row.request) << qPrintable(row.args.join(u' '));
        EXPECT_EQ(error.isEmpty(), row.request.has_value()) << qPrintable(row.args.join(u' '));
        // What the command sends is what the running copy reads.
        if (parsed) {
            EXPECT_EQ(DecodeNetUseRequest(EncodeNetUseRequest(*parsed)), parsed);
        }
    }
    for (const QByteArray &bad : {QByteArray("use\tH:\t\\\\SRV\\home"), QByteArray("use\tH:\n"),
                                  QByteArray("use\tH:\t\\\\SRV\\home\textra\n"), QByteArray("mount\tH:\t\\\\SRV\\x\n"),
                                  QByteArray("use\tH:\t\\\\SRV\\\x01x\n"), QByteArray("use\tH:\t\\\\SRV\\\xff\n"),
                                  QByteArray("list\tH:\t\n"), QByteArray("use\t\xC4\xB1:\t\\\\SRV\\x\n"),
                                  QByteArray("use\tH:\t\\\\\\x\n"), QByteArray("delete\t\t\\\\\\\n"), "use\tH:\t\\\\" + QByteArray(MaxNetUseLine, 'a') + '\n'})
        EXPECT_FALSE(DecodeNetUseRequest(bad).has_value()) << bad.left(40).constData();
    EXPECT_EQ(DecodeNetUseReply("2\nSystem error 5\n")->text, u"System error 5\n"_s);
    EXPECT_FALSE(DecodeNetUseReply("x\n").has_value());
}
