#pragma once

#include <QStringList>

namespace ORVIK {

// The program's arguments. Windows hands main() its arguments in the ANSI code page, which cannot
// hold every character of a path or URL; Qt reads the UTF-16 command line instead only while argv
// is the one main() got, and orvik takes --verbose out of it. So on Windows the arguments are read
// from the UTF-16 command line here.
class CommandLine
{
public:
    // QCoreApplication's arguments (it must exist), but on Windows from the UTF-16 command line, without
    // --verbose after the program name. `remaining` is argc as the application left it: when it took
    // options of its own (-platform ...), Qt's list, which leaves them out, is kept.
    static QStringList arguments(int remaining);
};

} // namespace ORVIK
