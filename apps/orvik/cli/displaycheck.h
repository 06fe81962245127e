#pragma once

namespace ORVIK {

// For the commands that show a window: Qt ends the process (abort, exit 134) when its platform
// plug-in cannot reach the display. While the application starts, that fatal message becomes one
// line that says so, and exit code 1.
class DisplayCheck
{
public:
    // From now on until disarm(); `command` names the command in the line.
    static void arm(const char *command);
    static void disarm();
};

} // namespace ORVIK
