#pragma once

#include <QTextStream>

namespace ORVIK {

// The last step of every command: what it printed must have reached the system. A command whose
// output was lost (a full disk, a closed descriptor) fails, whatever it returned, so that a script
// never takes a cut public key or version line for a whole one.
class OutputCheck
{
public:
    // Flushes both streams down to the system. Returns exitCode when everything was written, else
    // at least the failure code; a lost standard output is told on standard error (unless its reader
    // went away, which other tools also take quietly).
    static int finish(QTextStream &out, QTextStream &err, int exitCode);
};

} // namespace ORVIK
