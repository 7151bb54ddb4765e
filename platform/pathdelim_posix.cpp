#include "platform/paths.h"

namespace platform {

// On its own, so that a program needing only the delimiter does not link the file helpers
// (and with them the network provider).
const QChar PathDelim = QLatin1Char('/');

} // namespace platform
