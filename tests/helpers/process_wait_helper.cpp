// Raises the terminate flag while a wait runs and reports how the wait ended.
#include "platform/messageloop.h"
#include "platform/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    platform::ProcessHandle handle = 0;
    if (platform::StartProcess(QStringLiteral("sleep 20"), {}, 1, platform::NORMAL_PRIORITY_CLASS, false, handle))
        return 2;
    QTimer::singleShot(300, [] { platform::Terminate(); });
    QElapsedTimer clock;
    clock.start();
    platform::WaitForProcessDispatching(handle);
    const qint64 elapsed = clock.elapsed();
    const quint32 code = platform::GetExitCodeProcess(handle);
    ::kill(pid_t(handle), SIGKILL);
    std::printf("ended %lld ms, code %u\n", static_cast<long long>(elapsed), code);
    return elapsed < 5000 && code == platform::STILL_ACTIVE ? 0 : 1;
}
