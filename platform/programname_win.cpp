#include "platform/programname.h"

namespace platform {

const QString ProgramFileName = QStringLiteral("tavrologin.exe");

} // namespace platform
