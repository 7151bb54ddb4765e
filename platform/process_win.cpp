#include "platform/process.h"

#include "platform/errnocodes_p.h"
#include "platform/errors.h"
#include "platform/messageloop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

// After our own headers: windows.h defines the error codes and priority classes that
// process.h declares as constants (with the same values), so from here on the names
// are Windows' macros.
#include <windows.h>
#include <shellapi.h>

namespace platform {

namespace {


// The process handles we hold. A handle value is only looked at or closed while it is
// ours: after CloseProcessHandle the value may already name another object of this
// process (an event of Qt's), which must be neither waited on nor closed.
class Handles {
public:
    static Handles &instance()
    {
        static Handles handles;
        return handles;
    }

    ProcessHandle adopt(HANDLE process)
    {
        const ProcessHandle value = qint64(reinterpret_cast<quintptr>(process));
        std::lock_guard lock(m_mutex);
        m_open.insert(value);
        return value;
    }

    HANDLE find(ProcessHandle handle)
    {
        std::lock_guard lock(m_mutex);
        return m_open.count(handle) ? toHandle(handle) : nullptr;
    }

    // A handle of the caller's own to the same process, so that closing ours meanwhile
    // (a handler run during a wait) leaves the wait intact.
    HANDLE duplicate(ProcessHandle handle)
    {
        std::lock_guard lock(m_mutex);
        HANDLE own = nullptr;
        if (!m_open.count(handle)
            || !DuplicateHandle(GetCurrentProcess(), toHandle(handle), GetCurrentProcess(), &own, SYNCHRONIZE,
                                FALSE, 0))
            return nullptr;
        return own;
    }

    void close(ProcessHandle handle)
    {
        std::lock_guard lock(m_mutex);
        if (m_open.erase(handle))
            CloseHandle(toHandle(handle));
    }

private:
    static HANDLE toHandle(ProcessHandle handle) { return reinterpret_cast<HANDLE>(quintptr(handle)); }

    std::mutex m_mutex;
    std::unordered_set<ProcessHandle> m_open;
};

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool isBlankLine(const QString &line)
{
    for (const QChar c : line)
        if (c != u' ' && c != u'\t')
            return false;
    return true;
}

// The code of a failed call. Callers read 0 as success, and a failed call does not
// always set one (Wine's CreateProcessW of an empty line leaves 0).
quint32 lastError(quint32 fallback)
{
    const DWORD err = GetLastError();
    return err ? err : fallback;
}

// The shell reports some failures only through hInstApp (an SE_ERR_* value).
quint32 shellFailure(const SHELLEXECUTEINFOW &info)
{
    if (const DWORD err = GetLastError())
        return err;
    switch (quintptr(info.hInstApp)) {
    case SE_ERR_FNF: return ERROR_FILE_NOT_FOUND;
    case SE_ERR_PNF: return ERROR_PATH_NOT_FOUND;
    case SE_ERR_OOM: return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE: return ERROR_SHARING_VIOLATION;
    case SE_ERR_NOASSOC:
    case SE_ERR_ASSOCINCOMPLETE: return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY: return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND: return ERROR_DLL_NOT_FOUND;
    default: return ERROR_ACCESS_DENIED;
    }
}

} // namespace

quint32 StartProcess(const QString &commandLine, const QString &currentFolder, int showCommand,
                     quint32 priorityClass, bool newConsole, ProcessHandle &handle)
{
    handle = 0;
    if (commandLine.size() > MaxCommandLineLength)
        return ERROR_FILENAME_EXCED_RANGE;
    if (isBlankLine(commandLine))
        return ERROR_FILE_NOT_FOUND;

    // The line goes as it is: Windows finds the program, an unquoted path with blanks
    // and batch files included. CreateProcessW may write to the buffer.
    std::wstring line = commandLine.toStdWString();
    const std::wstring folder = nativePath(currentFolder);
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = WORD(showCommand);
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    DWORD flags = priorityClass;
    if (newConsole)
        flags |= CREATE_NEW_CONSOLE;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return lastError(ERROR_FILE_NOT_FOUND);
    CloseHandle(info.hThread);
    handle = Handles::instance().adopt(info.hProcess);
    return 0;
}

quint32 ShellExecuteFile(const QString &file, ProcessHandle &handle)
{
    handle = 0;
    if (file.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    const std::wstring path = nativePath(file);
    SHELLEXECUTEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    // No error box of the shell's own: the caller reports the failure.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info))
        return shellFailure(info);
    // No process when the file went to a program that was already running.
    if (info.hProcess)
        handle = Handles::instance().adopt(info.hProcess);
    return 0;
}

quint32 QueryExitCode(ProcessHandle handle, quint32 &exitCode)
{
    const HANDLE process = Handles::instance().find(handle);
    if (!process)
        return ERROR_INVALID_HANDLE;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code))
        return lastError(ERROR_INVALID_HANDLE);
    exitCode = code;
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
    const HANDLE own = Handles::instance().duplicate(handle);
    if (!own)
        return;
    struct CloseOwn {
        HANDLE h;
        ~CloseOwn() { CloseHandle(h); }
    } closeOwn{own};

    if (!QAbstractEventDispatcher::instance()) {
        // No Qt loop on this thread, so nothing to dispatch and nothing that could
        // carry the terminate request here: the process alone ends the wait.
        if (!Terminated())
            WaitForSingleObject(own, INFINITE);
        return;
    }
    // Sleep until the process ends or a message arrives for this thread; Qt's posted
    // events and timers arrive as messages, and Terminate() posts one. Input already
    // in the queue but left by a nested loop counts too, so none is slept over.
    while (!Terminated()) {
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &own, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken != WAIT_OBJECT_0 + 1)
            return; // ended, or the handle cannot be waited on
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void CloseProcessHandle(ProcessHandle handle)
{
    Handles::instance().close(handle);
}

quint32 ChangeCurrentDirectory(const QString &path)
{
    if (path.isEmpty())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring native = nativePath(path);
    return SetCurrentDirectoryW(native.c_str()) ? 0 : lastError(ERROR_PATH_NOT_FOUND);
}

QString ErrorCodeText(quint32 code)
{
    if (code & ErrnoCustomerBit)
        return QString::fromLocal8Bit(std::strerror(ErrnoOfCode(code)));
    // The system's sentence, shown inside our own messages ("...: text"): one line,
    // without its full stop, as the other platforms give it.
    QString text = SystemErrorText(int(code)).simplified();
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

} // namespace platform
