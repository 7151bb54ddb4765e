// A building logging on at once: N workstations, each a separate process running the
// logon path (drop drives, connect the logon share, set the variable, copy and start
// LOGON.BAT, the IPC$ step), released at the same instant against one private smbd,
// side by side with N smbclient runs connecting and getting the same script.
//   login_storm [--captures DIR] [workstations] [rounds]     (defaults 200 and 1)
// --captures keeps the two single-logon captures (ours.pcap, smbclient.pcap) in DIR for
// a closer look, e.g. with tshark -r DIR/ours.pcap -Y smb2.
// Prints time to script started (p50/p95/p99) for both, the server's CPU time per logon,
// and what one logon costs the server, from a loopback capture with tcpdump: requests
// by command, TCP connections and bytes side by side, then every request in order with
// what it aims at and the server's answer.
#include "service/TavroNetService.h"
#include "tests/fixtures/SambaServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString Share = QStringLiteral("NETLOGON_V2");

qint64 NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

// One workstation: ready, then blocked on the FIFO until the parent opens it for
// writing; the password comes on standard input.
int Worker(const QString &fifo, const QString &server, const QString &user)
{
    QFile in;
    in.open(stdin, QIODevice::ReadOnly);
    const QString password = QString::fromUtf8(in.readLine()).trimmed();
    std::printf("ready\n");
    std::fflush(stdout);
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY);
    if (fd < 0) {
        std::fprintf(stderr, "login_storm: no release FIFO: %s\n", std::strerror(errno));
        return 1;
    }
    char c;
    while (::read(fd, &c, 1) > 0) {
    }
    ::close(fd);
    TTavroNetService(QString(), QString(), QString(), QString()).DisconnectAllShares();
    TTavroNetService logon(server, Share, user, password);
    QString message;
    if (!logon.ConnectAndRunScript(QStringLiteral("LOGON.BAT"), message)) {
        std::fprintf(stderr, "login_storm: %s\n", qPrintable(message));
        return 1;
    }
    TTavroNetService remote(server, QStringLiteral("IPC$"), user, password);
    if (!remote.ConnectShare(QString(), QStringLiteral("\\\\") + server + QStringLiteral("\\IPC$"))) {
        std::fprintf(stderr, "login_storm: IPC$ failed\n");
        return 1;
    }
    return 0;
}

// A private home per workstation: its temporary folder and environment store.
QProcessEnvironment WorkstationEnvironment(const QString &home, const QString &out)
{
    QDir().mkpath(home);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("STORM_OUT"), out);
    return env;
}

struct Storm {
    std::vector<double> ms; // release to script started (ours) or script fetched (smbclient)
    int failed = 0;
};

// Starts the prepared processes, waits until each says it is ready, releases them all
// at one instant and collects the time stamps they wrote.
Storm Release(std::vector<std::unique_ptr<QProcess>> &procs, const QString &fifo,
              const QStringList &outs)
{
    Storm result;
    for (auto &p : procs) {
        if (!p->waitForReadyRead(60000) || !p->readLine().startsWith("ready")) {
            std::fprintf(stderr, "login_storm: a workstation did not get ready\n");
            std::exit(1);
        }
    }
    QThread::msleep(200); // the last ones reach the FIFO
    const qint64 t0 = NowNs();
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
    ::close(fd);
    for (size_t i = 0; i < procs.size(); ++i) {
        procs[i]->waitForFinished(120000);
        QFile f(outs[int(i)]);
        bool ok = procs[i]->exitStatus() == QProcess::NormalExit && procs[i]->exitCode() == 0
                  && f.open(QIODevice::ReadOnly);
        const qint64 stamp = ok ? f.readAll().trimmed().toLongLong(&ok) : 0;
        if (ok)
            result.ms.push_back(double(stamp - t0) / 1e6);
        else
            ++result.failed;
    }
    return result;
}

Storm OursStorm(const QString &self, const SambaServer &server, const QString &dir, int n)
{
    QDir().mkpath(dir);
    const QString fifo = dir + QStringLiteral("/release-ours");
    ::unlink(QFile::encodeName(fifo).constData());
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    std::vector<std::unique_ptr<QProcess>> procs;
    QStringList outs;
    for (int i = 0; i < n; ++i) {
        const QString home = dir + QStringLiteral("/ws%1").arg(i);
        outs << home + QStringLiteral("/started");
        QFile::remove(outs.back());
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(WorkstationEnvironment(home, outs.back()));
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(self, {QStringLiteral("--worker"), fifo, server.server(), server.user()});
        p->write(QByteArray(SambaServer::DefaultPassword) + '\n');
        p->closeWriteChannel();
        procs.push_back(std::move(p));
    }
    return Release(procs, fifo, outs);
}

// smbclient takes its credentials from standard input and stamps the moment it has the
// script, so both sides are measured to the same point of the work.
Storm SmbclientStorm(const SambaServer &server, const QString &dir, int n)
{
    QDir().mkpath(dir);
    const QString fifo = dir + QStringLiteral("/release-smbclient");
    ::unlink(QFile::encodeName(fifo).constData());
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    const QString script = QStringLiteral(
        "echo ready; exec 3<\"$1\"; cat <&3 >/dev/null; exec 3<&-; "
        "smbclient //127.0.0.1/%1 -p \"$2\" -A /dev/stdin -c \"get LOGON.BAT $3/LOGON.BAT\" "
        ">/dev/null 2>&1 && date +%s%N > \"$3/fetched\"").arg(Share);
    std::vector<std::unique_ptr<QProcess>> procs;
    QStringList outs;
    for (int i = 0; i < n; ++i) {
        const QString home = dir + QStringLiteral("/sc%1").arg(i);
        QDir().mkpath(home);
        outs << home + QStringLiteral("/fetched");
        QFile::remove(outs.back());
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral("sh"), fifo,
                                             QString::number(server.port()), home});
        p->write("username = " + server.user().toUtf8() + "\npassword = " + SambaServer::DefaultPassword + "\n");
        p->closeWriteChannel();
        procs.push_back(std::move(p));
    }
    return Release(procs, fifo, outs);
}

// CPU seconds of the server: the master, its live children and its reaped children.
double ServerCpuSeconds(qint64 master)
{
    const double tick = double(sysconf(_SC_CLK_TCK));
    double total = 0;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = f.readAll();
        const int paren = line.lastIndexOf(')');
        if (paren < 0 || !line.left(paren).contains("(smbd"))
            continue;
        const QList<QByteArray> fields = line.mid(paren + 2).split(' ');
        // fields[0] is the state; utime stime cutime cstime are fields 14-17 of the line.
        if (fields.size() < 15)
            continue;
        const bool isMaster = pid.toLongLong() == master;
        const bool isChild = fields[1].toLongLong() == master;
        if (!isMaster && !isChild)
            continue;
        total += (fields[11].toDouble() + fields[12].toDouble()) / tick;
        if (isMaster)
            total += (fields[13].toDouble() + fields[14].toDouble()) / tick;
    }
    return total;
}

// CPU seconds of the reaped workstations and whatever they started (smbd is not reaped
// until the end, so this is the clients' side alone).
double ClientCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// ---- what one logon costs the server, from a loopback capture ----

const char *CommandName(int c)
{
    static const char *names[] = {"NEGOTIATE", "SESSION_SETUP", "LOGOFF", "TREE_CONNECT",
                                  "TREE_DISCONNECT", "CREATE", "CLOSE", "FLUSH", "READ", "WRITE",
                                  "LOCK", "IOCTL", "CANCEL", "ECHO", "QUERY_DIRECTORY",
                                  "CHANGE_NOTIFY", "QUERY_INFO", "SET_INFO", "OPLOCK_BREAK"};
    return c >= 0 && c < int(std::size(names)) ? names[c] : "OTHER";
}

// One request as the server saw it: the command, what it aimed at, what the server said.
struct Request {
    int connection = 0;
    QString command;
    QString target;
    QString answer;
};

struct Cost {
    std::vector<Request> requests; // in the order the server received them, per connection
    qint64 bytes = 0;              // TCP payload, both ways
    int connections = 0;
    std::map<QString, int> byCommand() const
    {
        std::map<QString, int> counts;
        for (const Request &r : requests)
            ++counts[r.command];
        return counts;
    }
};

quint16 Le16(const uchar *p) { return quint16(p[0] | p[1] << 8); }
quint32 Le32(const uchar *p) { return p[0] | p[1] << 8 | p[2] << 16 | quint32(p[3]) << 24; }
quint64 Le64(const uchar *p) { return Le32(p) | quint64(Le32(p + 4)) << 32; }

QString AnswerText(quint32 status)
{
    switch (status) {
    case 0: return QStringLiteral("ok");
    case 0xC0000016: return QStringLiteral("more processing required");
    case 0xC0000011: return QStringLiteral("end of file");
    case 0xC0000225: return QStringLiteral("not found");
    case 0xC00000BA: return QStringLiteral("file is a directory");
    case 0xC0000236: return QStringLiteral("connection refused");
    case 0xC0000034: return QStringLiteral("name not found");
    case 0xC0000022: return QStringLiteral("access denied");
    default: return QStringLiteral("0x%1").arg(status, 8, 16, QLatin1Char('0'));
    }
}

// The SMB2 messages in one direction of a connection's stream: NetBIOS frames, each
// with one message or a compound chained through NextCommand. Calls fn(header, end).
template <typename Fn>
void ForEachMessage(const QByteArray &stream, Fn fn)
{
    const auto *s = reinterpret_cast<const uchar *>(stream.constData());
    qsizetype at = 0;
    while (at + 4 <= stream.size()) {
        const qsizetype len = s[at + 1] << 16 | s[at + 2] << 8 | s[at + 3];
        const qsizetype msg = at + 4;
        at = msg + len;
        if (at > stream.size())
            break;
        if (len >= 4 && s[msg] == 0xff && s[msg + 1] == 'S') {
            fn(nullptr, s + at); // an SMB1 negotiate that offers SMB2
            continue;
        }
        qsizetype h = msg;
        while (h + 64 <= at && s[h] == 0xfe && s[h + 1] == 'S') {
            const quint32 next = Le32(s + h + 20);
            fn(s + h, next ? s + h + next : s + at);
            if (next == 0)
                break;
            h += next;
        }
    }
}

QString Utf16At(const uchar *header, const uchar *end, quint16 offset, quint16 length)
{
    if (offset == 0 || length == 0 || header + offset + length > end)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(header + offset), length / 2);
}

// What a request aims at, for a person: the tree, the file, the block.
QString Target(const uchar *h, const uchar *end, int command, const std::map<quint32, QString> &trees)
{
    const uchar *body = h + 64;
    const auto tree = trees.find(Le32(h + 36));
    const QString share = tree != trees.end() ? tree->second.mid(tree->second.lastIndexOf(QLatin1Char('\\')) + 1)
                                              : QString();
    switch (command) {
    case 3: return Utf16At(h, end, Le16(body + 4), Le16(body + 6));
    case 5: {
        const QString name = Utf16At(h, end, Le16(body + 44), Le16(body + 46));
        return share + QLatin1Char('\\') + (name.isEmpty() ? QStringLiteral("(root)") : name);
    }
    case 8: return QStringLiteral("%1 bytes at %2").arg(Le32(body + 4)).arg(Le64(body + 8));
    case 11: return Le32(body + 4) == 0x00060194 ? QStringLiteral("DFS referral") : QStringLiteral("control code 0x%1").arg(Le32(body + 4), 0, 16);
    case 16: {
        static const char *kinds[] = {"?", "file info", "file system info", "security", "quota"};
        return QString::fromLatin1(kinds[body[2] < 5 ? body[2] : 0]) + QStringLiteral(" class %1").arg(body[3]);
    }
    default: return share;
    }
}

// Parses a pcap of the server's port: reassembles both directions of each connection,
// and lists the client's requests in order with the server's answer to each.
Cost ParseCapture(const QString &path, quint16 port)
{
    Cost cost;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return cost;
    const QByteArray all = f.readAll();
    const auto *d = reinterpret_cast<const uchar *>(all.constData());
    if (all.size() < 24 || Le32(d) != 0xa1b2c3d4)
        return cost;
    const quint32 link = Le32(d + 20);
    const int linkHeader = link == 1 ? 14 : link == 113 ? 16 : 0;
    std::map<quint16, QByteArray> toServer, toClient;
    std::vector<quint16> order; // clients in the order they connected
    qsizetype pos = 24;
    while (pos + 16 <= all.size()) {
        const quint32 caplen = Le32(d + pos + 8);
        const uchar *pkt = d + pos + 16;
        pos += 16 + caplen;
        if (pos > all.size() || int(caplen) < linkHeader + 40)
            break;
        const uchar *ip = pkt + linkHeader;
        if ((ip[0] >> 4) != 4)
            continue;
        const int ihl = (ip[0] & 15) * 4;
        const int ipLen = ip[2] << 8 | ip[3];
        const uchar *tcp = ip + ihl;
        const quint16 src = quint16(tcp[0] << 8 | tcp[1]);
        const quint16 dst = quint16(tcp[2] << 8 | tcp[3]);
        const int thl = (tcp[12] >> 4) * 4;
        const int payload = ipLen - ihl - thl;
        if (payload <= 0)
            continue;
        cost.bytes += payload;
        const quint16 client = src == port ? dst : src;
        if (!toServer.count(client) && !toClient.count(client))
            order.push_back(client);
        (src == port ? toClient : toServer)[client].append(reinterpret_cast<const char *>(tcp + thl), payload);
    }
    cost.connections = int(order.size());
    for (size_t c = 0; c < order.size(); ++c) {
        // The answers by message id, and the trees the server handed out.
        std::map<quint64, quint32> answers;
        std::map<quint64, quint32> treeOf;
        ForEachMessage(toClient[order[c]], [&](const uchar *h, const uchar *) {
            if (!h || Le32(h + 8) == 0x103) // 0x103: "pending", the real answer follows
                return;
            answers[Le64(h + 24)] = Le32(h + 8);
            if (Le16(h + 12) == 3)
                treeOf[Le64(h + 24)] = Le32(h + 36);
        });
        std::map<quint32, QString> trees;
        ForEachMessage(toServer[order[c]], [&](const uchar *h, const uchar *end) {
            Request r;
            r.connection = int(c) + 1;
            if (!h) {
                r.command = QStringLiteral("SMB1 NEGOTIATE");
                cost.requests.push_back(r);
                return;
            }
            const int command = Le16(h + 12);
            const quint64 id = Le64(h + 24);
            r.command = QString::fromLatin1(CommandName(command));
            r.target = Target(h, end, command, trees);
            const auto answer = answers.find(id);
            r.answer = answer != answers.end() ? AnswerText(answer->second) : QStringLiteral("(no answer)");
            if (command == 3 && treeOf.count(id))
                trees[treeOf[id]] = r.target;
            cost.requests.push_back(r);
        });
    }
    return cost;
}

template <typename Work>
Cost Captured(const SambaServer &server, const QString &dir, const QString &name, Work work)
{
    const QString file = dir + QStringLiteral("/") + name + QStringLiteral(".pcap");
    QProcess tcpdump;
    tcpdump.setProcessChannelMode(QProcess::MergedChannels);
    tcpdump.start(QStringLiteral("tcpdump"), {QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-U"), QStringLiteral("--immediate-mode"), QStringLiteral("-Z"), QStringLiteral("root"),
                                              QStringLiteral("-s"), QStringLiteral("0"), QStringLiteral("-w"), file,
                                              QStringLiteral("tcp port %1").arg(server.port())});
    if (!tcpdump.waitForStarted(5000)) {
        std::fprintf(stderr, "login_storm: tcpdump is missing (apt-get install tcpdump)\n");
        std::exit(1);
    }
    while (!tcpdump.readAll().contains("listening") && tcpdump.state() == QProcess::Running)
        tcpdump.waitForReadyRead(200);
    work();
    QThread::msleep(300);
    ::kill(pid_t(tcpdump.processId()), SIGTERM);
    tcpdump.waitForFinished(5000);
    if (QFileInfo(file).size() <= 24)
        std::fprintf(stderr, "login_storm: the capture is empty: %s\n", tcpdump.readAll().constData());
    return ParseCapture(file, server.port());
}

void PrintCost(const char *who, const Cost &c)
{
    std::printf("%s: %zu SMB requests over %d connection(s), %lld bytes of TCP payload\n", who, c.requests.size(),
                c.connections, static_cast<long long>(c.bytes));
    for (size_t i = 0; i < c.requests.size(); ++i) {
        const Request &r = c.requests[i];
        std::printf("    %2zu  conn %d  %-15s %-40s %s\n", i + 1, r.connection, qPrintable(r.command),
                    qPrintable(r.target), qPrintable(r.answer));
    }
}

// Requests per command side by side.
void PrintCommands(const Cost &ours, const Cost &theirs)
{
    std::map<QString, int> a = ours.byCommand(), b = theirs.byCommand();
    std::map<QString, int> all = a;
    all.insert(b.begin(), b.end());
    std::printf("  %-16s %10s %10s\n", "requests", "logon path", "smbclient");
    for (const auto &[name, unused] : all)
        std::printf("  %-16s %10d %10d\n", qPrintable(name), a[name], b[name]);
    std::printf("  %-16s %10zu %10zu\n", "total", ours.requests.size(), theirs.requests.size());
    std::printf("  %-16s %10d %10d\n", "TCP connections", ours.connections, theirs.connections);
    std::printf("  %-16s %10lld %10lld\n", "bytes", static_cast<long long>(ours.bytes),
                static_cast<long long>(theirs.bytes));
}

void PrintStorm(const char *who, const Storm &s)
{
    std::printf("%s: p50 %.1f ms, p95 %.1f ms, p99 %.1f ms, max %.1f ms (%zu done, %d failed)\n", who,
                Percentile(s.ms, 50), Percentile(s.ms, 95), Percentile(s.ms, 99), Percentile(s.ms, 100),
                s.ms.size(), s.failed);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--worker")
        return Worker(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                      QString::fromLocal8Bit(argv[4]));
    QStringList args = app.arguments().mid(1);
    QString keep;
    if (args.size() >= 2 && args[0] == QLatin1String("--captures")) {
        keep = args[1];
        args = args.mid(2);
    }
    const int n = !args.isEmpty() ? std::max(1, args[0].toInt()) : 200;
    const int rounds = args.size() > 1 ? std::max(1, args[1].toInt()) : 1;

    QTemporaryDir dir;
    SambaServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "login_storm: %s\n", qPrintable(error));
        return 1;
    }
    // The script stamps the moment it starts.
    server.putFile(Share, QStringLiteral("LOGON.BAT"), "date +%s%N > \"$STORM_OUT\"\n");
    const QString self = QCoreApplication::applicationFilePath();

    // One logon of each, alone, captured.
    const Cost ours = Captured(server, dir.path(), QStringLiteral("ours"), [&] {
        auto s = OursStorm(self, server, dir.path() + QStringLiteral("/one"), 1);
        if (s.failed)
            std::exit(1);
    });
    const Cost theirs = Captured(server, dir.path(), QStringLiteral("smbclient"), [&] {
        auto s = SmbclientStorm(server, dir.path() + QStringLiteral("/one"), 1);
        if (s.failed)
            std::exit(1);
    });

    if (!keep.isEmpty()) {
        QDir().mkpath(keep);
        for (const char *name : {"ours.pcap", "smbclient.pcap"}) {
            QFile::remove(keep + QLatin1Char('/') + QLatin1String(name));
            QFile::copy(dir.path() + QLatin1Char('/') + QLatin1String(name), keep + QLatin1Char('/') + QLatin1String(name));
        }
        std::printf("captures in %s (server port %u)\n", qPrintable(keep), unsigned(server.port()));
    }

    Storm a, b;
    double cpuOurs = 0, cpuTheirs = 0, clientOurs = 0, clientTheirs = 0;
    for (int r = 0; r < rounds; ++r) {
        const QString round = dir.path() + QStringLiteral("/r%1").arg(r);
        double before = ServerCpuSeconds(server.pid());
        double clientBefore = ClientCpuSeconds();
        Storm s = OursStorm(self, server, round, n);
        QThread::msleep(500);
        cpuOurs += ServerCpuSeconds(server.pid()) - before;
        clientOurs += ClientCpuSeconds() - clientBefore;
        a.ms.insert(a.ms.end(), s.ms.begin(), s.ms.end());
        a.failed += s.failed;
        before = ServerCpuSeconds(server.pid());
        clientBefore = ClientCpuSeconds();
        s = SmbclientStorm(server, round, n);
        QThread::msleep(500);
        cpuTheirs += ServerCpuSeconds(server.pid()) - before;
        clientTheirs += ClientCpuSeconds() - clientBefore;
        b.ms.insert(b.ms.end(), s.ms.begin(), s.ms.end());
        b.failed += s.failed;
    }

    std::printf("workstations: %d, rounds: %d\n", n, rounds);
    std::printf("time to script started (from the common release):\n");
    PrintStorm("  logon path", a);
    PrintStorm("  smbclient ", b);
    std::printf("  p99 ratio (logon path / smbclient): %.3f\n", Percentile(a.ms, 99) / Percentile(b.ms, 99));
    std::printf("server CPU per logon: logon path %.2f ms, smbclient %.2f ms\n",
                cpuOurs * 1000 / (n * rounds), cpuTheirs * 1000 / (n * rounds));
    std::printf("client CPU per logon: logon path %.2f ms, smbclient %.2f ms\n",
                clientOurs * 1000 / (n * rounds), clientTheirs * 1000 / (n * rounds));
    std::printf("what one logon costs the server (logon path: share, script, IPC$; smbclient: share, script):\n");
    PrintCommands(ours, theirs);
    PrintCost("  logon path", ours);
    PrintCost("  smbclient", theirs);
    return a.failed || b.failed ? 1 : 0;
}
