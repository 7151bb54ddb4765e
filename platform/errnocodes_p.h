#pragma once

#include <QtGlobal>

// The Windows codes errno values are known by, shared by the process backends.
namespace platform {

// Codes with this bit carry an errno that has no counterpart, so its text can still be found.
constexpr quint32 ErrnoCustomerBit = 0x20000000;
// The errno a code stands for: the one it was made from, or -1 when none.
int ErrnoOfCode(quint32 code);

} // namespace platform
