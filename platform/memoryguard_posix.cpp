#include "platform/memoryguard.h"

#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace platform {

void ProtectProcessMemory()
{
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void WipeBytes(void *data, size_t size)
{
    if (data && size)
        explicit_bzero(data, size);
}

LockedSecret::LockedSecret()
{
    void *page = ::mmap(nullptr, Capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        throw std::bad_alloc();
    m_data = static_cast<char *>(page);
    // Locking may be refused (a low RLIMIT_MEMLOCK); the page still stays out of dumps.
    m_locked = ::mlock(page, Capacity) == 0;
    ::madvise(page, Capacity, MADV_DONTDUMP);
}

LockedSecret::~LockedSecret()
{
    wipe();
    if (m_locked)
        ::munlock(m_data, Capacity);
    ::munmap(m_data, Capacity);
}

} // namespace platform
