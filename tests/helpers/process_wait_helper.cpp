// Raises the terminate flag while a wait runs and reports how the wait ended:
// "platform" waits through the platform layer, "appexec" through a launcher.
#include "components/Appexec.h"
#include "platform/messageloop.h"
#include "platform/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool launcher = argc > 1 && std::strcmp(argv[1], "appexec") == 0;
    QTimer::singleShot(300, [] { platform::Terminate(); });
    QElapsedTimer clock;
    clock.start();

    platform::ProcessHandle handle = 0;
    quint32 code = 0;
    if (launcher) {
        TAppExec exec;
        exec.setExeName(QStringLiteral("sleep 20"));
        exec.setWait(true);
        exec.Execute();
        handle = exec.phandle;
        code = exec.ErrNo();
    } else {
        if (platform::StartProcess(QStringLiteral("sleep 20"), {}, 1, platform::NORMAL_PRIORITY_CLASS, false, handle))
            return 2;
        platform::WaitForProcessDispatching(handle);
        code = platform::GetExitCodeProcess(handle);
    }
    const qint64 elapsed = clock.elapsed();
    ::kill(pid_t(handle), SIGKILL);
    std::printf("ended %lld ms, code %u\n", static_cast<long long>(elapsed), code);
    return elapsed < 5000 && code == platform::STILL_ACTIVE ? 0 : 1;
}
