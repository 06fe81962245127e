#pragma once

#include <QStringList>

namespace ORVIK {

// What orvik asks of the system as a process, one file per system behind these functions
// (process_unix.cpp, process_win.cpp).
namespace Process {

// Run first in main. On Windows DLLs come from the program's folder and the system folder only. Elsewhere
// closed standard descriptors are opened on /dev/null, and a reader that goes away or a file at the size
// limit shows as a failed write (EPIPE, EFBIG) instead of a signal that kills the process mid-write.
void prepare();

// The words after the program's name as they were given: on Windows from the UTF-16 command line,
// which argv holds only in the code page; elsewhere argv in the locale's encoding.
QStringList arguments(int argc, char *argv[]);

// Whether a window may be tried: elsewhere than on Windows, only when the environment names a display.
bool displayNamed();

// Whether the process must end without unloading its libraries (Windows: ExitProcess tells the DLLs
// only after it ended the other threads, and one of them may hold a lock that the DLLs wait for).
bool endsWithoutUnloading();
// Flushes every C stream and ends the process at once with `code`, running no library's clean-up.
void endNow(int code);

} // namespace Process

} // namespace ORVIK
