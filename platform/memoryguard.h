#pragma once

#include <QtGlobal>
#include <string>

// Passwords in this process: kept out of crash dumps, away from other processes of the
// same user, out of swap, and wiped once used.
namespace platform {

// At start: no core file, and no same-user debugger or /proc/PID/mem reader.
void ProtectProcessMemory();

// Overwrites the bytes in a way the compiler cannot drop.
void WipeBytes(void *data, size_t size);

// A password's bytes in locked memory left out of core dumps, wiped when replaced or dropped.
class LockedSecret {
public:
    LockedSecret();
    ~LockedSecret();
    LockedSecret(const LockedSecret &) = delete;
    LockedSecret &operator=(const LockedSecret &) = delete;

    // False (and empty) when the text does not fit.
    bool assign(const char *data, size_t size);
    void wipe();
    const char *data() const { return m_data; }
    size_t size() const { return m_size; }
    std::string copy() const { return std::string(m_data, m_size); }
    // Compares in time that depends on the length only.
    bool equals(const char *data, size_t size) const;

    static constexpr size_t Capacity = 1024;

private:
    char *m_data = nullptr;
    size_t m_size = 0;
    bool m_locked = false;
};

} // namespace platform
