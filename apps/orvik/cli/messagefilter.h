#pragma once

#include <QtGlobal>

class QMessageLogContext;

namespace ORVIK {

// Keeps Qt's internal warnings and debug output (about the platform plug-in, missing runtime
// folders, ...) from the user, while every message of orvik, the host libraries and the module, and
// every critical message, still comes through. Qt's release libraries log without a source file;
// this project's code always names its file.
class MessageFilter
{
public:
    // True for a debug, info or warning message of a "qt." category, or of the default category
    // without a source file.
    static bool isQtChatter(QtMsgType type, const char *category, const char *file);

    // Filters from now on, unless verbose or QT_LOGGING_RULES is set: then the rules decide alone.
    static void install(bool verbose);
};

} // namespace ORVIK
