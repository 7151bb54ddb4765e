#include "platform/sharedblock.h"

#include "platform/errors.h"

#include <QCryptographicHash>

#include <windows.h>

// The block is a page-file mapping in the session's namespace ("Local\"), so other
// sessions and users never see it; the kernel drops it with the last handle, so a copy
// that dies leaves nothing behind. A named mutex in the same namespace serialises each
// open, update and close; a mutex abandoned by a dead copy is still acquired.
namespace platform {

namespace {

static_assert(sizeof(SharedBlock::View) == 8, "the block is 8 bytes");

// Kernel object names may not hold '\': it and '%' are escaped so different names stay
// different; over-long names end in a hash of the whole name.
std::wstring ObjectName(const QString &name, const char *suffix)
{
    QString escaped;
    for (QChar c : name) {
        if (c == QLatin1Char('%'))
            escaped += QLatin1String("%25");
        else if (c == QLatin1Char('\\'))
            escaped += QLatin1String("%5C");
        else
            escaped += c;
    }
    if (escaped.size() > 200)
        escaped = escaped.left(150) + QLatin1Char('.')
                  + QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex());
    return (QStringLiteral("Local\\tavro.") + escaped + QLatin1String(suffix)).toStdWString();
}

class SerialLock {
public:
    explicit SerialLock(const QString &name)
    {
        m_mutex = CreateMutexW(nullptr, FALSE, ObjectName(name, ".lock").c_str());
        if (!m_mutex)
            RaiseLastOSError("CreateMutexW");
        const DWORD rc = WaitForSingleObject(m_mutex, INFINITE);
        if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) {
            CloseHandle(m_mutex);
            RaiseLastOSError("WaitForSingleObject");
        }
    }
    ~SerialLock()
    {
        ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }
    SerialLock(const SerialLock &) = delete;
    SerialLock &operator=(const SerialLock &) = delete;

private:
    HANDLE m_mutex = nullptr;
};

template <typename Step>
void WithView(HANDLE mapping, const Step &step)
{
    auto *view = static_cast<SharedBlock::View *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedBlock::View)));
    step(view);
    if (view)
        UnmapViewOfFile(view);
}

} // namespace

SharedBlock::SharedBlock(const QString &name) : m_name(name) {}

SharedBlock::~SharedBlock()
{
    Close();
}

void SharedBlock::Open(const OpenStep &step)
{
    Close();
    SerialLock lock(m_name);
    const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(View),
                                              ObjectName(m_name, "").c_str());
    if (!mapping)
        RaiseLastOSError("CreateFileMappingW");
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    m_handle = reinterpret_cast<qintptr>(mapping);
    WithView(mapping, [&](View *view) { step(view, existed); });
}

void SharedBlock::Update(const UpdateStep &step)
{
    if (!IsOpen())
        return;
    SerialLock lock(m_name);
    WithView(reinterpret_cast<HANDLE>(m_handle), step);
}

void SharedBlock::Close()
{
    if (!IsOpen())
        return;
    SerialLock lock(m_name);
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool SharedBlock::Peek(const QString &name, View &view)
{
    SerialLock lock(name);
    const HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, ObjectName(name, "").c_str());
    if (!mapping)
        return false;
    bool ok = false;
    if (const void *data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(View))) {
        view = *static_cast<const View *>(data);
        UnmapViewOfFile(data);
        ok = true;
    }
    CloseHandle(mapping);
    return ok;
}

void SharedBlock::Remove(const QString &)
{
    // Nothing outlives its last handle here.
}

} // namespace platform
