#include "apps/orvik/commands/ssidargument.h"

namespace ORVIK {

QByteArray ssidArgument(const QString &value)
{
    // Qt decoded the arguments from the locale's encoding: encoding back gives their bytes.
    return value.toLocal8Bit();
}

} // namespace ORVIK
