#include "platform/localipc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A raw client, so that a test can send part of a line, nothing, or leave early.
int Connect(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, path.toLocal8Bit().constData(), sizeof addr.sun_path);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Runs the window thread's loop until DONE holds or the time is up.
template <typename Done>
bool Pump(Done done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Whether the server has closed FD within MS (end of file, no answer).
bool ClosedWithin(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, ms) == 1 && ::recv(fd, &c, 1, 0) == 0;
}

} // namespace

// One line in, one answer out; a line is cut at its limit; a client that sends no whole
// line in time is dropped; a client that leaves is seen as no longer waiting.
TEST(LocalRequests, OneLineInOneAnswerOutAndNoClientHoldsTheServer)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("s"));
    EXPECT_FALSE(platform::LocalSocketAnswers(name, 100));
    QByteArray unused;
    EXPECT_EQ(platform::SendLocalRequest(name, "x\n", 100, &unused), platform::LocalRequestResult::NoServer);

    platform::LocalRequestServer server(16, 300);
    QList<QByteArray> lines;
    QList<platform::LocalRequestServer::Client> clients;
    bool answerAtOnce = true;
    server.OnRequest = [&](platform::LocalRequestServer::Client client, const QByteArray &line, bool sameUser) {
        EXPECT_TRUE(sameUser);
        lines << line;
        clients << client;
        if (answerAtOnce)
            server.Reply(client, "ok:" + line);
    };
    ASSERT_TRUE(server.Listen(name));
    EXPECT_TRUE(platform::LocalSocketAnswers(name, 100));

    // The request is sent from another thread while the window thread serves.
    auto ask = [&](const QByteArray &request) {
        auto answer = std::async(std::launch::async, [&name, request] {
            QByteArray bytes;
            const auto result = platform::SendLocalRequest(name, request, 3000, &bytes);
            return result == platform::LocalRequestResult::Answered ? bytes : QByteArray("no answer");
        });
        Pump([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return answer.get();
    };
    EXPECT_EQ(ask("list\t\t\n"), "ok:list\t\t\n");
    // Past the limit the line is cut; what follows it is never read.
    EXPECT_EQ(ask(QByteArray(40, 'a') + '\n'), "ok:" + QByteArray(17, 'a'));
    ASSERT_EQ(lines.size(), 2);

    // Silent, and half a line: both dropped once the time is up, neither handed over.
    const int silent = Connect(name), partial = Connect(name);
    ASSERT_GE(silent, 0);
    ASSERT_GE(partial, 0);
    ASSERT_EQ(::send(partial, "use\tH:", 6, MSG_NOSIGNAL), 6);
    QElapsedTimer clock;
    clock.start();
    bool silentClosed = false, partialClosed = false;
    Pump([&] {
        silentClosed = silentClosed || ClosedWithin(silent, 0);
        partialClosed = partialClosed || ClosedWithin(partial, 0);
        return silentClosed && partialClosed;
    });
    EXPECT_TRUE(silentClosed && partialClosed);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(lines.size(), 2);
    ::close(silent);
    ::close(partial);

    // A client that leaves after its line no longer waits; answering it harms nothing.
    answerAtOnce = false;
    const int leaving = Connect(name);
    ASSERT_EQ(::send(leaving, "list\t\t\n", 7, MSG_NOSIGNAL), 7);
    ASSERT_TRUE(Pump([&] { return lines.size() == 3; }));
    EXPECT_TRUE(server.Waiting(clients.last()));
    ::close(leaving);
    EXPECT_TRUE(Pump([&] { return !server.Waiting(clients.last()); }));
    server.Reply(clients.last(), "late\n");
    answerAtOnce = true;
    EXPECT_EQ(ask("list\t\t\n"), "ok:list\t\t\n");
}
