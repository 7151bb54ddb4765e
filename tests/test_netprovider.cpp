#include "platform/errors.h"
#include "platform/files.h"
#include "platform/netprovider.h"
#include "platform/paths.h"
#include "platform/pendingresult.h"
#include "tests/fixtures/DesktopSession.h"
#include "tests/fixtures/SambaServer.h"
#include "tests/fixtures/TempEnv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace platform;

namespace {

const QString Password = QLatin1String(SambaServer::DefaultPassword);

class NetProviderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(m_server.start(&error)) << qPrintable(error);
        ASSERT_TRUE(DesktopSession::start(&error)) << qPrintable(error);
    }
    void TearDown() override
    {
        for (const char *share : {"NETLOGON_V2", "HOME", "PUBLIC", "IPC$"})
            CancelConnection(m_server.unc(QLatin1String(share)), true);
        for (char d = 'A'; d <= 'Z'; ++d)
            CancelConnection(QString(QLatin1Char(d)) + QLatin1Char(':'), true);
    }
    QString unc(const char *share) const { return m_server.unc(QLatin1String(share)); }

    TempHome m_home;
    SambaServer m_server;
};

QByteArray ReadUnc(const QString &path)
{
    std::unique_ptr<QIODevice> in = OpenReadStream(path);
    return in->readAll();
}

} // namespace

TEST_F(NetProviderTest, RejectsMalformedNamesAndTakenDrives)
{
    struct Row {
        const char *local;
        QString remote;
        quint32 expected;
    };
    const Row rows[] = {
        {"", QStringLiteral("\\\\"), NET_ERROR_BAD_NET_NAME},
        {"", QStringLiteral("\\\\host"), NET_ERROR_BAD_NET_NAME},
        {"", QStringLiteral("//host/share"), NET_ERROR_BAD_NET_NAME},
        {"", QStringLiteral("\\\\host:0\\share"), NET_ERROR_BAD_NET_NAME},
        {"", QStringLiteral("\\\\host:70000\\share"), NET_ERROR_BAD_NET_NAME},
        {"", QStringLiteral("\\\\user@host\\share"), NET_ERROR_BAD_NET_NAME},
        {"", unc("NETLOGON_V2") + QStringLiteral("\\sub"), NET_ERROR_BAD_NET_NAME},
        {"H", unc("HOME"), NET_ERROR_BAD_DEVICE},
        {"1:", unc("HOME"), NET_ERROR_BAD_DEVICE},
        {"HH:", unc("HOME"), NET_ERROR_BAD_DEVICE},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(qPrintable(row.remote));
        EXPECT_EQ(AddConnection(QLatin1String(row.local), row.remote, m_server.user(), Password), row.expected);
    }
    ASSERT_EQ(AddConnection(QStringLiteral("h:"), unc("HOME"), m_server.user(), Password), NET_NO_ERROR);
    EXPECT_TRUE(IsRemoteDrive(QStringLiteral("H:")));
    EXPECT_TRUE(IsRemoteDrive(QStringLiteral("h:")));
    EXPECT_EQ(AddConnection(QStringLiteral("H:"), unc("PUBLIC"), m_server.user(), Password), NET_ERROR_ALREADY_ASSIGNED);
    EXPECT_EQ(CancelConnection(QStringLiteral("G:"), true), NET_ERROR_NOT_CONNECTED);
    EXPECT_EQ(CancelConnection(QStringLiteral("h:"), true), NET_NO_ERROR);
    EXPECT_FALSE(IsRemoteDrive(QStringLiteral("H:")));
}

TEST_F(NetProviderTest, ErrorsSayWhatWentWrong)
{
    EXPECT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), QStringLiteral("bad")), NET_ERROR_LOGON_FAILURE);
    EXPECT_EQ(AddConnection(QString(), unc("NOSUCH"), m_server.user(), Password), NET_ERROR_BAD_NET_NAME);
    EXPECT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), Password), NET_NO_ERROR);
    // The same remote name under another user clashes; the same user reconnects.
    EXPECT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), QStringLiteral("other"), Password),
              NET_ERROR_SESSION_CREDENTIAL_CONFLICT);
    EXPECT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), Password), NET_NO_ERROR);
    EXPECT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), QStringLiteral("bad")), NET_ERROR_LOGON_FAILURE);
}

TEST_F(NetProviderTest, FilesOnSharesAreReadThroughTheConnection)
{
    QByteArray big(300000, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 1000);
    ASSERT_TRUE(m_server.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("a b%20c/d.bin"), big));
    ASSERT_TRUE(m_server.putFile(QStringLiteral("HOME"), QStringLiteral("gone.txt"), "x"));
    const QString file = unc("NETLOGON_V2") + QStringLiteral("\\a b%20c\\d.bin");

    // No connection, no credentials: nothing is readable, not even anonymously.
    EXPECT_FALSE(FileExists(file));
    EXPECT_THROW(OpenReadStream(file), EInOutError);

    ASSERT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), Password), NET_NO_ERROR);
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(unc("NETLOGON_V2") + QStringLiteral("/a b%20c/d.bin")));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_TRUE(DirectoryExists(unc("NETLOGON_V2") + QStringLiteral("\\a b%20c")));
    EXPECT_TRUE(DirectoryExists(unc("NETLOGON_V2")));
    EXPECT_FALSE(FileExists(unc("NETLOGON_V2") + QStringLiteral("\\a b%20c")));
    EXPECT_EQ(ReadUnc(file), big);
    // A read that comes back short is taken for the end: sizes around the block sizes of
    // the reader and the library show that it only ever is.
    for (const qsizetype size : {0, 1, 4096, 16383, 16384, 16385, 1 << 20, (1 << 20) + 1}) {
        const QByteArray content = big.left(size);
        ASSERT_TRUE(m_server.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("sized.bin"), content));
        EXPECT_EQ(ReadUnc(unc("NETLOGON_V2") + QStringLiteral("\\sized.bin")), content) << size;
    }
    try {
        OpenReadStream(unc("NETLOGON_V2") + QStringLiteral("\\missing.txt"));
        ADD_FAILURE() << "a missing file opened";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode, 2);
    }
    // The session to the server serves its other shares too.
    EXPECT_TRUE(FileExists(unc("HOME") + QStringLiteral("\\gone.txt")));
    EXPECT_TRUE(DeleteFile(unc("HOME") + QStringLiteral("\\gone.txt")));
    EXPECT_FALSE(QFile::exists(m_server.shareDir(QStringLiteral("HOME")) + QStringLiteral("/gone.txt")));
}

TEST_F(NetProviderTest, OpenFilesHoldAConnectionUnlessForced)
{
    ASSERT_TRUE(m_server.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("f.txt"), QByteArray(100000, 'f')));
    ASSERT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), Password), NET_NO_ERROR);
    std::unique_ptr<QIODevice> in = OpenReadStream(unc("NETLOGON_V2") + QStringLiteral("\\f.txt"));
    char block[10];
    ASSERT_EQ(in->read(block, sizeof block), 10);

    EXPECT_EQ(CancelConnection(unc("NETLOGON_V2"), false), NET_ERROR_OPEN_FILES);
    EXPECT_EQ(CancelConnection(unc("NETLOGON_V2"), true), NET_NO_ERROR);
    // A forced cancel cuts the open file off as well.
    QByteArray rest;
    char more[4096];
    qint64 got = 0;
    while ((got = in->read(more, sizeof more)) > 0)
        rest.append(more, got);
    EXPECT_LT(rest.size(), 100000 - 10);
    EXPECT_FALSE(FileExists(unc("NETLOGON_V2") + QStringLiteral("\\f.txt")));
}

TEST_F(NetProviderTest, ASessionTheServerDroppedIsSetUpAgainUnnoticed)
{
    ASSERT_TRUE(m_server.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("f.txt"), "f"));
    const QString file = unc("NETLOGON_V2") + QStringLiteral("\\f.txt");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // Dropped straight after the session was set up, and after it has been used.
        ASSERT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), Password), NET_NO_ERROR);
        if (round == 1) {
            ASSERT_TRUE(FileExists(file));
        }
        const QList<qint64> clients = m_server.clientPids();
        ASSERT_EQ(clients.size(), 1);
        ::kill(pid_t(clients[0]), SIGKILL);
        for (int i = 0; i < 200 && !m_server.clientPids().isEmpty(); ++i)
            ::usleep(10000);
        EXPECT_TRUE(FileExists(file));
        EXPECT_EQ(ReadUnc(file), "f");
    }
}

TEST_F(NetProviderTest, ServerGoneIsAFailureNotACrash)
{
    ASSERT_TRUE(m_server.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("f.txt"), "f"));
    ASSERT_EQ(AddConnection(QString(), unc("NETLOGON_V2"), m_server.user(), Password), NET_NO_ERROR);
    const QString file = unc("NETLOGON_V2") + QStringLiteral("\\f.txt");
    ASSERT_TRUE(FileExists(file));
    const QString remote = unc("NETLOGON_V2");
    m_server.stop();
    EXPECT_FALSE(FileExists(file));
    EXPECT_THROW(OpenReadStream(file), EInOutError);
    EXPECT_EQ(AddConnection(QString(), remote, QLatin1String(SambaServer::DefaultUser), Password), NET_ERROR_BAD_NETPATH);
}

// A network call that runs out keeps the window's messages flowing to the very end of its
// bound: an event due shortly before the bound is still handled inside the wait.
TEST(PendingResultWait, AWaitThatRunsOutDispatchesToItsEnd)
{
    platform::PendingResult pending;
    bool handled = false;
    QTimer late;
    late.setTimerType(Qt::PreciseTimer);
    late.setSingleShot(true);
    QObject::connect(&late, &QTimer::timeout, [&] { handled = true; });
    late.start(3900);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(pending.wait(4000));
    EXPECT_GE(clock.elapsed(), 4000);
    EXPECT_TRUE(handled) << "the wait stopped handling messages before its end";
    // Given up for good: a late result is refused.
    EXPECT_FALSE(pending.finish([] {}));
}
