// Runs the test Samba server on its own, for the demo and for trying things by hand.
#include "tests/fixtures/SambaServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

int g_wake[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &c, 1);
}

void Usage()
{
    std::fprintf(stderr,
                 "usage: samba-demo-server [--netlogon DIR] [--user NAME] [--password-stdin]\n"
                 "Starts a private Samba server on 127.0.0.1 (shares NETLOGON_V2, HOME, PUBLIC, IPC$),\n"
                 "copies the files of DIR into NETLOGON_V2, prints port=, server=, user=, pid=, root=\n"
                 "lines and runs until SIGINT or SIGTERM. Without --password-stdin the user's\n"
                 "password is the built-in test password; with it, the first line of standard input.\n");
}

bool CopyTree(const QString &from, const QString &to)
{
    QDir src(from);
    if (!src.exists())
        return false;
    QDir().mkpath(to);
    for (const QFileInfo &e : src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + e.fileName();
        if (e.isDir() ? !CopyTree(e.absoluteFilePath(), target)
                      : !(QFile::remove(target), QFile::copy(e.absoluteFilePath(), target)))
            return false;
        QFile::setPermissions(target, e.isDir() ? QFile::Permissions(0x7755) : QFile::Permissions(0x6644));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString netlogon;
    QString user = QLatin1String(SambaServer::DefaultUser);
    bool passwordFromStdin = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--netlogon") && i + 1 < args.size()) {
            netlogon = args[++i];
        } else if (args[i] == QLatin1String("--user") && i + 1 < args.size()) {
            user = args[++i];
        } else if (args[i] == QLatin1String("--password-stdin")) {
            passwordFromStdin = true;
        } else {
            Usage();
            return 2;
        }
    }
    QString password = QLatin1String(SambaServer::DefaultPassword);
    if (passwordFromStdin) {
        std::string line;
        std::getline(std::cin, line);
        password = QString::fromStdString(line);
    }

    if (::pipe(g_wake) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);

    SambaServer server;
    QString error;
    if (!server.start(&error, user, password)) {
        std::fprintf(stderr, "samba-demo-server: %s\n", qPrintable(error));
        return 1;
    }
    if (!netlogon.isEmpty() && !CopyTree(netlogon, server.shareDir(QStringLiteral("NETLOGON_V2")))) {
        std::fprintf(stderr, "samba-demo-server: cannot copy %s\n", qPrintable(netlogon));
        return 1;
    }
    std::printf("port=%u\nserver=%s\nuser=%s\npid=%lld\nroot=%s\n", unsigned(server.port()),
                qPrintable(server.server()), qPrintable(server.user()), server.pid(), qPrintable(server.rootDir()));
    std::fflush(stdout);

    char c;
    while (::read(g_wake[0], &c, 1) < 0 && errno == EINTR) {
    }
    server.stop();
    return 0;
}
