#pragma once

#include <QString>
#include <QtGlobal>

// Processes: started by command line or by file type, waited for without spinning
// while window messages are dispatched, and always reaped.
namespace platform {

constexpr quint32 STILL_ACTIVE = 259;

// Process handle: the pid on POSIX; 0 means none.
using ProcessHandle = qint64;

// Starts FILE by its type (a logon script, a document). 0 on success, else a
// Windows-style error code; handle is 0 when nothing can be waited for.
quint32 ShellExecuteFile(const QString &file, ProcessHandle &handle);

// STILL_ACTIVE while the process runs, else its exit code.
quint32 GetExitCodeProcess(ProcessHandle handle);

// Waits until the process ends or the application is asked to terminate, dispatching
// window messages meanwhile; never a busy loop.
void WaitForProcessDispatching(ProcessHandle handle);

// Releases the handle; the process is still reaped when it ends.
void CloseProcessHandle(ProcessHandle handle);

} // namespace platform
