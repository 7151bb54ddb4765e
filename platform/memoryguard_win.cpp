#include "platform/memoryguard.h"

#include <windows.h>

#include <new>

namespace platform {

void ProtectProcessMemory()
{
    // No crash dialog nor Windows Error Reporting dump of this process.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

void WipeBytes(void *data, size_t size)
{
    if (data && size)
        SecureZeroMemory(data, size);
}

LockedSecret::LockedSecret()
{
    void *page = VirtualAlloc(nullptr, Capacity, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!page)
        throw std::bad_alloc();
    m_data = static_cast<char *>(page);
    m_locked = VirtualLock(page, Capacity) != 0;
}

LockedSecret::~LockedSecret()
{
    wipe();
    if (m_locked)
        VirtualUnlock(m_data, Capacity);
    VirtualFree(m_data, 0, MEM_RELEASE);
}

} // namespace platform
