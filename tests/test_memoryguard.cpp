#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/memoryguard.h"
#include "tests/fixtures/TestAccounts.h"

using namespace Qt::StringLiterals;

namespace {

// Starts PROGRAM as ACCOUNT in FOLDER with core files allowed; its pid, or 0.
pid_t StartAs(const TestAccount &account, const QString &folder, const QList<QByteArray> &argv,
              const QList<QByteArray> &env)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_CORE, &unlimited);
        if (::chdir(QFile::encodeName(folder).constData()) != 0 || !BecomeAccount(account))
            _exit(120);
        std::vector<char *> args, vars;
        for (const QByteArray &a : argv)
            args.push_back(const_cast<char *>(a.constData()));
        args.push_back(nullptr);
        for (const QByteArray &v : env)
            vars.push_back(const_cast<char *>(v.constData()));
        vars.push_back(nullptr);
        ::execve(args[0], args.data(), vars.data());
        _exit(121);
    }
    return child;
}

// What another process of the same account reads of PID's memory and environment.
struct Readable {
    bool environ = false;
    bool mem = false;
};
Readable ReadAs(const TestAccount &account, pid_t pid)
{
    int pipefd[2];
    if (::pipe(pipefd) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipefd[0]);
        char result[2] = {'0', '0'};
        if (BecomeAccount(account)) {
            char buffer[64];
            const QByteArray base = "/proc/" + QByteArray::number(pid);
            const int env = ::open((base + "/environ").constData(), O_RDONLY);
            result[0] = env >= 0 && ::read(env, buffer, sizeof buffer) > 0 ? '1' : '0';
            const int mem = ::open((base + "/mem").constData(), O_RDONLY);
            result[1] = mem >= 0 ? '1' : '0';
        }
        (void)!::write(pipefd[1], result, 2);
        _exit(0);
    }
    ::close(pipefd[1]);
    char result[2] = {'0', '0'};
    (void)!::read(pipefd[0], result, 2);
    ::close(pipefd[0]);
    ::waitpid(child, nullptr, 0);
    return {result[0] == '1', result[1] == '1'};
}

bool CoreLeft(const QString &folder)
{
    return !QDir(folder).entryList({u"core*"_s}, QDir::Files).isEmpty();
}

QByteArray StatusLine(const char *key)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed();
    return {};
}

} // namespace

TEST(ProcessMemory, TheClientLeavesNoCoreFileAndNoSameUserProcessReadsIt)
{
    const TestAccount account = EnsureTestAccount(u"hdmemory"_s);
    ASSERT_TRUE(account.valid) << qPrintable(account.error);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_EQ(::chown(QFile::encodeName(folder.path()).constData(), account.uid, account.gid), 0);
    const QByteArray home = QFile::encodeName(folder.path());
    const QList<QByteArray> env = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config", "XDG_DATA_HOME=" + home + "/data",
                                   "TAVROLOGIN_COMMON_APPDATA=" + home + "/common", "QT_QPA_PLATFORM=offscreen",
                                   "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent", "TAVRO_MARKER=visible"};

    // The same checks against a plain program of the same account, which they must catch;
    // each dumps into a folder of its own.
    const QString plainFolder = folder.path() + u"/plain"_s, clientFolder = folder.path() + u"/client"_s;
    for (const QString &f : {plainFolder, clientFolder}) {
        ASSERT_TRUE(QDir().mkpath(f));
        ASSERT_EQ(::chown(QFile::encodeName(f).constData(), account.uid, account.gid), 0);
    }
    const pid_t plain = StartAs(account, plainFolder, {"/bin/sleep", "30"}, env);
    ASSERT_GT(plain, 0);
    const pid_t client = StartAs(account, clientFolder, {TAVRO_BINARY_DIR "/app/tavrologin"}, env);
    ASSERT_GT(client, 0);
    // The client is up once it has written its settings.
    for (int i = 0; i < 100 && !QFile::exists(folder.path() + u"/common/Tavro Login 2/tavrologin.ini"_s); ++i)
        QThread::msleep(50);
    ASSERT_TRUE(QFile::exists(folder.path() + u"/common/Tavro Login 2/tavrologin.ini"_s));

    const Readable ofPlain = ReadAs(account, plain);
    EXPECT_TRUE(ofPlain.environ && ofPlain.mem);
    const Readable ofClient = ReadAs(account, client);
    EXPECT_FALSE(ofClient.environ);
    EXPECT_FALSE(ofClient.mem);

    for (pid_t pid : {plain, client})
        ::kill(pid, SIGSEGV);
    int status = 0;
    ::waitpid(plain, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WCOREDUMP(status));
    ::waitpid(client, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(WCOREDUMP(status));
    EXPECT_TRUE(CoreLeft(plainFolder));
    EXPECT_FALSE(CoreLeft(clientFolder));
}

TEST(ProcessMemory, SecretsSitInLockedPagesLeftOutOfDumpsAndAreWiped)
{
    const long lockedBefore = StatusLine("VmLck:").split(' ').value(0).toLong();
    {
        platform::LockedSecret secret;
        EXPECT_GE(StatusLine("VmLck:").split(' ').value(0).toLong() - lockedBefore, 1);
        ASSERT_TRUE(secret.assign("pa$$word", 8));
        EXPECT_EQ(secret.copy(), std::string("pa$$word"));
        EXPECT_EQ(secret.data()[8], '\0');

        // The page is marked "dd" (do not dump) in the process's map.
        QFile smaps(u"/proc/self/smaps"_s);
        ASSERT_TRUE(smaps.open(QIODevice::ReadOnly));
        const QByteArray map = smaps.readAll();
        const QByteArray start = QByteArray::number(quintptr(secret.data()), 16);
        const qsizetype at = map.indexOf(start + '-');
        ASSERT_GE(at, 0);
        const qsizetype flags = map.indexOf("VmFlags:", at);
        EXPECT_TRUE(map.mid(flags, map.indexOf('\n', flags) - flags).contains(" dd")) << map.mid(flags, 80).constData();

        const std::string tooLong(platform::LockedSecret::Capacity, 'x');
        EXPECT_FALSE(secret.assign(tooLong.data(), tooLong.size()));
        EXPECT_EQ(secret.size(), 0u);
        ASSERT_TRUE(secret.assign("again", 5));
        const char *bytes = secret.data();
        secret.wipe();
        for (size_t i = 0; i < platform::LockedSecret::Capacity; ++i)
            ASSERT_EQ(bytes[i], '\0') << i;
    }
    EXPECT_EQ(StatusLine("VmLck:").split(' ').value(0).toLong(), lockedBefore);
}
