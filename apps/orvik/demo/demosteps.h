#pragma once

#include "apps/orvik/commandcontext.h"

namespace ORVIK {

// Steps of `orvik demo`, each against loopback peers that it starts itself; each prints what it did
// and returns an exit code.
int demoTransfers(CommandContext &context);
int demoTime(CommandContext &context);
int demoUpdateCheck(CommandContext &context);
int demoWifiScreenshot(CommandContext &context);

} // namespace ORVIK
