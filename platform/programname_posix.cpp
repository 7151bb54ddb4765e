#include "platform/programname.h"

namespace platform {

const QString ProgramFileName = QStringLiteral("tavrologin");

} // namespace platform
