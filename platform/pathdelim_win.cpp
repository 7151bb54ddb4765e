#include "platform/paths.h"

namespace platform {

const QChar PathDelim = QLatin1Char('\\');

} // namespace platform
