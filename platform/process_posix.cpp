#include "platform/process.h"

#include "platform/errnocodes_p.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messageloop.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

extern char **environ;

namespace platform {

namespace {

// The descriptor a script read from a server reaches the shell on.
constexpr int kScriptFd = 3;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Batch files, and .sh scripts: both are shell scripts on these workstations.
bool isBatchName(const QString &name)
{
    return name.endsWith(u".bat", Qt::CaseInsensitive) || name.endsWith(u".cmd", Qt::CaseInsensitive)
           || name.endsWith(u".sh", Qt::CaseInsensitive);
}

// One started child. The pidfd lets the reaper and the waits block on it and reap
// exactly this child, never one of QProcess's.
struct Child {
    pid_t pid = 0;
    int pidfd = -1;
    bool exited = false;
    quint32 exitCode = STILL_ACTIVE;
    bool released = false;
    ~Child()
    {
        if (pidfd >= 0)
            ::close(pidfd);
    }
};

// Every child we start is registered here and reaped by one thread as soon as it
// ends, whether anybody waits for it or not: no zombies, and SIGCHLD stays untouched.
class Registry {
public:
    static Registry &instance()
    {
        static Registry registry;
        return registry;
    }

    ~Registry()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        wake();
        if (m_thread.joinable())
            m_thread.join();
        if (m_wake >= 0)
            ::close(m_wake);
    }

    void add(pid_t pid, int pidfd, bool released)
    {
        auto child = std::make_shared<Child>();
        child->pid = pid;
        child->pidfd = pidfd;
        child->released = released;
        {
            std::lock_guard lock(m_mutex);
            if (m_wake < 0)
                m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            // A released, already reaped child may have left its pid to this one.
            m_children[pid] = child;
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        wake();
    }

    std::shared_ptr<Child> find(ProcessHandle handle)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_children.find(pid_t(handle));
        if (it == m_children.end() || it->second->released)
            return nullptr;
        return it->second;
    }

    // True once the child has ended; reaps it if it just did.
    bool reap(Child &child)
    {
        std::lock_guard lock(m_mutex);
        return reapLocked(child);
    }

    void release(ProcessHandle handle)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_children.find(pid_t(handle));
        if (it == m_children.end() || it->second->released)
            return;
        it->second->released = true;
        if (reapLocked(*it->second))
            m_children.erase(it);
    }

private:
    Registry() = default;

    static bool reapLocked(Child &child)
    {
        if (child.exited)
            return true;
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        const int rc = child.pidfd >= 0 ? ::waitid(P_PIDFD, id_t(child.pidfd), &info, WEXITED | WNOHANG)
                                        : ::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOHANG);
        if (rc == 0 && info.si_pid != 0) {
            child.exited = true;
            // A killed program reports 128 + the signal, as a shell would.
            child.exitCode = info.si_code == CLD_EXITED ? quint32(info.si_status) : 128u + quint32(info.si_status);
            return true;
        }
        if (rc < 0 && errno == ECHILD) {
            // Reaped behind our back: it has ended, its code is lost.
            child.exited = true;
            child.exitCode = 0xFFFFFFFFu;
            return true;
        }
        return false;
    }

    void wake()
    {
        if (m_wake >= 0) {
            const quint64 one = 1;
            [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
        }
    }

    void run()
    {
        for (;;) {
            // The snapshot keeps each polled pidfd open even if its entry goes meanwhile.
            std::vector<std::shared_ptr<Child>> watched;
            std::vector<pollfd> fds;
            bool withoutFd = false;
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
                fds.push_back({m_wake, POLLIN, 0});
                for (auto &[pid, child] : m_children) {
                    if (child->exited)
                        continue;
                    if (child->pidfd >= 0) {
                        watched.push_back(child);
                        fds.push_back({child->pidfd, POLLIN, 0});
                    } else {
                        withoutFd = true;
                    }
                }
            }
            // Children without a pidfd (an fd limit hit) are looked at twice a second.
            ::poll(fds.data(), nfds_t(fds.size()), withoutFd ? 500 : -1);
            if (fds[0].revents & POLLIN) {
                quint64 count;
                [[maybe_unused]] ssize_t n = ::read(m_wake, &count, sizeof count);
            }
            std::lock_guard lock(m_mutex);
            for (auto it = m_children.begin(); it != m_children.end();) {
                if (reapLocked(*it->second) && it->second->released)
                    it = m_children.erase(it);
                else
                    ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::unordered_map<pid_t, std::shared_ptr<Child>> m_children;
    int m_wake = -1;
    bool m_stop = false;
    std::thread m_thread;
};

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// Finds the program of a command line as Windows would: a name with a folder part as
// it stands, else the current folder first and then PATH. A batch file only has to be
// readable; a program has to be executable. Returns the path or sets err.
QByteArray findProgram(const QString &name, const QByteArray &folder, bool batch, int &err)
{
    const int mode = batch ? R_OK : X_OK;
    auto usable = [&](const QByteArray &path, int &why) {
        struct stat st;
        if (::stat(path.constData(), &st) != 0) {
            why = errno;
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            why = EACCES;
            return false;
        }
        if (::access(path.constData(), mode) != 0) {
            why = errno;
            return false;
        }
        return true;
    };
    auto inFolder = [](const QByteArray &dir, const QByteArray &file) {
        if (dir.isEmpty())
            return file;
        return dir.endsWith('/') ? dir + file : dir + '/' + file;
    };

    const QByteArray file = nativePath(name);
    if (file.isEmpty()) {
        err = ENOENT;
        return {};
    }
    if (file.contains('/')) {
        const QByteArray path = file.startsWith('/') ? file : inFolder(folder, file);
        if (usable(path, err))
            return path;
        return {};
    }
    err = ENOENT;
    QList<QByteArray> dirs{folder.isEmpty() ? QByteArray(".") : folder};
    const QByteArray searchPath = qgetenv("PATH");
    for (const QByteArray &dir : searchPath.split(':'))
        dirs.append(dir.isEmpty() ? QByteArray(".") : dir);
    for (const QByteArray &dir : dirs) {
        const QByteArray path = inFolder(dir, file);
        int why = 0;
        if (usable(path, why))
            return path;
        // A file that is there but cannot be run says more than one that is missing.
        if (why != ENOENT && why != ENOTDIR)
            err = why;
    }
    return {};
}

// nice values for the priority classes; raising one needs privileges, and without
// them the program simply runs at the normal level (as Windows does for realtime).
int niceForClass(quint32 priorityClass)
{
    switch (priorityClass) {
    case IDLE_PRIORITY_CLASS: return 19;
    case HIGH_PRIORITY_CLASS: return -10;
    case REALTIME_PRIORITY_CLASS: return -20;
    default: return 0;
    }
}

// posix_spawn with the handles not inherited and default signal handling, then
// registered for reaping. Returns an errno value.
int spawn(const QByteArray &path, const QList<QByteArray> &args, const QByteArray &folder, bool newSession,
          quint32 priorityClass, bool release, pid_t &pid, int scriptFd = -1)
{
    std::vector<char *> argv;
    for (const QByteArray &arg : args)
        argv.push_back(const_cast<char *>(arg.constData()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    if (!folder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    if (scriptFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, scriptFd, kScriptFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, scriptFd >= 0 ? kScriptFd + 1 : 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);

    int rc = 0;
    const auto start = [&] { rc = ::posix_spawn(&pid, path.constData(), &actions, &attr, argv.data(), environ); };
    if (const int nice = niceForClass(priorityClass); nice != 0) {
        // The child must run at its priority from its first instruction. A nice value
        // belongs to a thread and is inherited from it, so spawn from a short-lived thread
        // that takes the value first; without the right to raise it the program still starts.
        std::thread([&] {
            ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), nice);
            start();
        }).join();
    } else {
        start();
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return rc;

    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0)
        ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    Registry::instance().add(pid, pidfd, release);
    return 0;
}

// A batch file on a server share cannot be handed to the shell by path: its text is
// read through the network provider into an anonymous file that the shell reads as
// /dev/fd/3. Returns 0 or a Windows-style code.
quint32 spawnServerScript(const QString &unc, const QList<QByteArray> &params, const QByteArray &folder,
                          bool newSession, quint32 priorityClass, pid_t &pid)
{
    QByteArray text;
    try {
        text = OpenReadStream(unc)->readAll();
    } catch (const EInOutError &e) {
        return quint32(e.ErrorCode);
    }
    int fd = ::memfd_create("logon-script", MFD_CLOEXEC);
    if (fd >= 0 && fd <= kScriptFd) {
        // dup2 onto itself would leave close-on-exec set.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kScriptFd + 1);
        ::close(fd);
        fd = moved;
    }
    if (fd < 0)
        return ErrorCodeFromErrno(errno);
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return ErrorCodeFromErrno(err);
        }
        done += n;
    }
    ::lseek(fd, 0, SEEK_SET);
    QList<QByteArray> args{"/bin/sh", "/dev/fd/3"};
    args += params;
    const int rc = spawn("/bin/sh", args, folder, newSession, priorityClass, false, pid, fd);
    ::close(fd);
    return rc == 0 ? 0 : ErrorCodeFromErrno(rc);
}

// An unquoted program path may hold blanks (a folder named "My Files"): as on Windows,
// the words are tried as one name, the longest run of them that names a file first, and
// the one found is quoted so that the rest splits as its arguments.
QString withProgramFound(const QString &commandLine, const QByteArray &folder)
{
    qsizetype start = 0;
    while (start < commandLine.size() && isBlank(commandLine[start]))
        ++start;
    if (start == commandLine.size() || commandLine[start] == u'"' || IsUncPath(commandLine.mid(start)))
        return commandLine;
    QList<qsizetype> ends; // where each run of words ends, shortest first
    for (qsizetype i = start; i < commandLine.size(); ++i) {
        if (isBlank(commandLine[i]) && !isBlank(commandLine[i - 1]))
            ends << i;
    }
    if (ends.isEmpty())
        return commandLine;
    ends << commandLine.size();
    for (qsizetype k = ends.size() - 1; k > 0; --k) {
        const QString name = commandLine.mid(start, ends[k] - start);
        if (name.contains(u'"'))
            continue;
        int err = 0;
        if (!findProgram(name, folder, isBatchName(name), err).isEmpty())
            return u'"' + name + u'"' + commandLine.mid(ends[k]);
    }
    return commandLine;
}

} // namespace

quint32 StartProcess(const QString &commandLine, const QString &currentFolder, int showCommand,
                     quint32 priorityClass, bool newConsole, ProcessHandle &handle)
{
    Q_UNUSED(showCommand) // no window of ours to show
    handle = 0;
    if (commandLine.size() > MaxCommandLineLength)
        return ERROR_FILENAME_EXCED_RANGE;
    const QByteArray folder = nativePath(currentFolder);
    const QStringList words = SplitCommandLine(withProgramFound(commandLine, folder));
    if (words.isEmpty())
        return ERROR_FILE_NOT_FOUND;

    if (!folder.isEmpty()) {
        struct stat st;
        if (::stat(folder.constData(), &st) != 0)
            return ErrorCodeFromErrno(errno);
        if (!S_ISDIR(st.st_mode))
            return ErrorCodeFromErrno(ENOTDIR);
    }

    // A batch file is a shell script on these workstations.
    const bool batch = isBatchName(words.first());
    pid_t pid = 0;
    if (batch && IsUncPath(words.first())) {
        QList<QByteArray> params;
        for (qsizetype i = 1; i < words.size(); ++i)
            params << nativePath(words[i]);
        const quint32 code = spawnServerScript(words.first(), params, folder, newConsole, priorityClass, pid);
        if (code == 0)
            handle = pid;
        return code;
    }
    int err = 0;
    const QByteArray program = findProgram(words.first(), folder, batch, err);
    if (program.isEmpty())
        return ErrorCodeFromErrno(err);

    QList<QByteArray> args;
    QByteArray path = program;
    if (batch) {
        path = "/bin/sh";
        args << path;
    }
    args << program;
    for (qsizetype i = 1; i < words.size(); ++i)
        args << nativePath(words[i]);

    const int rc = spawn(path, args, folder, newConsole, priorityClass, false, pid);
    if (rc != 0)
        return ErrorCodeFromErrno(rc);
    handle = pid;
    return 0;
}

quint32 ShellExecuteFile(const QString &file, ProcessHandle &handle)
{
    handle = 0;
    const QByteArray path = nativePath(file);
    struct stat st;
    if (path.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    if (IsUncPath(file) && isBatchName(file)) {
        pid_t pid = 0;
        const quint32 code = spawnServerScript(file, {}, {}, true, NORMAL_PRIORITY_CLASS, pid);
        if (code == 0)
            handle = pid;
        return code;
    }
    if (::stat(path.constData(), &st) != 0)
        return ErrorCodeFromErrno(errno);

    pid_t pid = 0;
    int rc = 0;
    // Scripts run in a session of their own, as a batch file gets a console of its own.
    if (S_ISREG(st.st_mode) && isBatchName(file)) {
        rc = spawn("/bin/sh", {"/bin/sh", path}, {}, true, NORMAL_PRIORITY_CLASS, false, pid);
    } else if (S_ISREG(st.st_mode) && ::access(path.constData(), X_OK) == 0) {
        rc = spawn(path, {path}, {}, true, NORMAL_PRIORITY_CLASS, false, pid);
    } else {
        // The desktop's handler may hand the file to a program already running, so
        // there is nothing to wait for; xdg-open itself is still reaped.
        int err = ENOENT;
        const QByteArray opener = findProgram(QStringLiteral("xdg-open"), {}, false, err);
        if (opener.isEmpty())
            return ErrorCodeFromErrno(err);
        rc = spawn(opener, {opener, path}, {}, true, NORMAL_PRIORITY_CLASS, true, pid);
        return rc == 0 ? 0 : ErrorCodeFromErrno(rc);
    }
    if (rc != 0)
        return ErrorCodeFromErrno(rc);
    handle = pid;
    return 0;
}

quint32 QueryExitCode(ProcessHandle handle, quint32 &exitCode)
{
    auto child = Registry::instance().find(handle);
    if (!child)
        return ERROR_INVALID_HANDLE;
    exitCode = Registry::instance().reap(*child) ? child->exitCode : STILL_ACTIVE;
    return 0;
}

quint32 GetExitCodeProcess(ProcessHandle handle)
{
    quint32 code = 0xFFFFFFFFu;
    QueryExitCode(handle, code);
    return code;
}

void WaitForProcessDispatching(ProcessHandle handle)
{
    Registry &registry = Registry::instance();
    auto child = registry.find(handle);
    if (!child || registry.reap(*child))
        return;

    // A descriptor of our own, so that nested waits on one process each have theirs.
    const int fd = child->pidfd >= 0 ? ::fcntl(child->pidfd, F_DUPFD_CLOEXEC, 3) : -1;
    auto *app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread()) {
        // Sleep in the event loop until a message comes or the process ends (its
        // pidfd turns readable); Terminate() posts an event, so it wakes us too.
        std::unique_ptr<QSocketNotifier> notifier;
        std::unique_ptr<QTimer> fallback;
        if (fd >= 0) {
            notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                             [n = notifier.get()] { n->setEnabled(false); });
        } else {
            fallback = std::make_unique<QTimer>();
            fallback->start(250);
        }
        while (!Terminated() && !registry.reap(*child))
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } else {
        // No event loop to serve: block on the process, looking at the flag now and then.
        while (!Terminated() && !registry.reap(*child)) {
            pollfd p{fd, POLLIN, 0};
            if (fd >= 0)
                ::poll(&p, 1, 200);
            else
                ::usleep(200000);
        }
    }
    if (fd >= 0)
        ::close(fd);
}

void CloseProcessHandle(ProcessHandle handle)
{
    Registry::instance().release(handle);
}

quint32 ChangeCurrentDirectory(const QString &path)
{
    const QByteArray native = nativePath(path);
    if (native.isEmpty())
        return ERROR_PATH_NOT_FOUND;
    return ::chdir(native.constData()) == 0 ? 0 : ErrorCodeFromErrno(errno);
}

QString ErrorCodeText(quint32 code)
{
    if (code == 0)
        return SystemErrorText(0);
    const int err = ErrnoOfCode(code);
    return err >= 0 ? SystemErrorText(err) : QStringLiteral("System error %1").arg(code);
}

} // namespace platform
