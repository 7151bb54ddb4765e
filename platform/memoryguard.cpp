#include "platform/memoryguard.h"

#include <cstring>

namespace platform {

bool LockedSecret::assign(const char *data, size_t size)
{
    wipe();
    if (size >= Capacity)
        return false;
    std::memcpy(m_data, data, size);
    m_data[size] = 0;
    m_size = size;
    return true;
}

void LockedSecret::wipe()
{
    WipeBytes(m_data, Capacity);
    m_size = 0;
}

} // namespace platform
