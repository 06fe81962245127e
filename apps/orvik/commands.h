#pragma once

#include "apps/orvik/commandcontext.h"

namespace ORVIK {

int runModuleCommand(CommandContext &context);
int runDemoCommand(CommandContext &context);
int runGetCommand(CommandContext &context);
int runPutCommand(CommandContext &context);
int runTimeCommand(CommandContext &context);
int runUpdateCheckCommand(CommandContext &context);
int runWifiCommand(CommandContext &context);

// Steps of the demo; each prints what it did and returns an exit code.
int demoRegistration(CommandContext &context);
int demoTransfers(CommandContext &context);
int demoTime(CommandContext &context);
int demoUpdateCheck(CommandContext &context);
int demoWifiScreenshot(CommandContext &context);

} // namespace ORVIK
