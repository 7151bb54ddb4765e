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

bool LockedSecret::equals(const char *data, size_t size) const
{
    if (size != m_size)
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < size; ++i)
        diff |= static_cast<unsigned char>(m_data[i] ^ data[i]);
    return diff == 0;
}

void LockedSecret::wipe()
{
    WipeBytes(m_data, Capacity);
    m_size = 0;
}

} // namespace platform
