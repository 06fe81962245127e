#pragma once

#include "apps/orvik/commandcontext.h"

namespace ORVIK {

int runModuleCommand(CommandContext &context);
int runDemoCommand(CommandContext &context);
int runGetCommand(CommandContext &context);
int runPutCommand(CommandContext &context);
int runTimeCommand(CommandContext &context);
int runUpdateCheckCommand(CommandContext &context);
int runUpdateSignCommand(CommandContext &context);
int runWifiCommand(CommandContext &context);
int runVersionCommand(CommandContext &context);

// Whether `orvik wifi` with these arguments shows a window; its other uses render off screen.
bool wifiShowsWindow(const QStringList &arguments);

// What `orvik module` prints of the loaded module: its record and its resources.
int printRegistration(CommandContext &context);

} // namespace ORVIK
