#include "apps/orvik/commands/ssidargument.h"

namespace ORVIK {

QByteArray ssidArgument(const QString &value)
{
    return value.toUtf8();
}

} // namespace ORVIK
