#pragma once

#include <QFont>

namespace platform {

// The windows' font: the classic 8-point dialog face where it exists, else a sans
// face of about its width.
QFont DialogFont();

} // namespace platform
