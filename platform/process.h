#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Processes: started by command line or by file type, waited for without spinning
// while window messages are dispatched, and always reaped.
namespace platform {

constexpr quint32 STILL_ACTIVE = 259;

// Windows-style error codes the launcher and its callers look at.
constexpr quint32 ERROR_FILE_NOT_FOUND = 2;
constexpr quint32 ERROR_PATH_NOT_FOUND = 3;
constexpr quint32 ERROR_ACCESS_DENIED = 5;
constexpr quint32 ERROR_INVALID_HANDLE = 6;
constexpr quint32 ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr quint32 ERROR_INVALID_PARAMETER = 87;
constexpr quint32 ERROR_BAD_EXE_FORMAT = 193;
constexpr quint32 ERROR_FILENAME_EXCED_RANGE = 206;

// Priority classes, as the creation flags carry them.
constexpr quint32 IDLE_PRIORITY_CLASS = 0x40;
constexpr quint32 NORMAL_PRIORITY_CLASS = 0x20;
constexpr quint32 HIGH_PRIORITY_CLASS = 0x80;
constexpr quint32 REALTIME_PRIORITY_CLASS = 0x100;

// The longest command line a process can be started with.
constexpr int MaxCommandLineLength = 32767;

// Process handle: the pid on POSIX; 0 means none.
using ProcessHandle = qint64;

// Starts FILE by its type (a logon script, a document). 0 on success, else a
// Windows-style error code; handle is 0 when nothing can be waited for.
quint32 ShellExecuteFile(const QString &file, ProcessHandle &handle);

// Starts a command line (split by the Windows rules; the first word is the program).
// currentFolder empty = the caller's; showCommand is SW_* (no meaning without windows
// of our own); newConsole detaches the program into a session of its own.
// 0 on success with a handle to release with CloseProcessHandle, else a Windows-style code.
quint32 StartProcess(const QString &commandLine, const QString &currentFolder, int showCommand,
                     quint32 priorityClass, bool newConsole, ProcessHandle &handle);

// The words of a command line by the Windows rules (CommandLineToArgvW).
QStringList SplitCommandLine(const QString &commandLine);

// STILL_ACTIVE while the process runs, else its exit code (0xFFFFFFFF for an unknown handle).
quint32 GetExitCodeProcess(ProcessHandle handle);
// The same with the failure reported: 0 and the code, or ERROR_INVALID_HANDLE.
quint32 QueryExitCode(ProcessHandle handle, quint32 &exitCode);

// Waits until the process ends or the application is asked to terminate, dispatching
// window messages meanwhile; never a busy loop.
void WaitForProcessDispatching(ProcessHandle handle);

// Releases the handle; the process is still reaped when it ends.
void CloseProcessHandle(ProcessHandle handle);

// Changes the process's current folder: 0, or a Windows-style code.
quint32 ChangeCurrentDirectory(const QString &path);

// Windows-style code for an errno value, and the platform's own text for such a code.
quint32 ErrorCodeFromErrno(int err);
QString ErrorCodeText(quint32 code);

} // namespace platform
