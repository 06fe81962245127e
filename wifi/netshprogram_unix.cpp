#include "wifi/wifiscan_p.h"

namespace ORVIK {

QString netshProgram()
{
    // No system has it here but one that copies Windows' tools: found through PATH, where the demo
    // puts a stand-in of its own.
    return QStringLiteral("netsh");
}

} // namespace ORVIK
