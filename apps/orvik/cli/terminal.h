#pragma once

#include <QIODevice>

#include <cstdio>
#include <memory>

class QTextStream;

namespace ORVIK {

// What orvik needs to know of its standard streams, one file per system behind these functions
// (terminal_unix.cpp, terminal_win.cpp).
namespace Terminal {

// Whether a standard stream is a terminal that a person reads. On Windows only a console is one:
// NUL is a character device as well, which _isatty takes for a terminal.
bool isTerminal(std::FILE *stream);

// The columns of the terminal on standard error; 80 when it tells none.
int width();

// The descriptor of a standard stream, set to pass bytes as they are: on Windows without the text
// mode's CRLF translation, which would change a body on its way.
int binaryDescriptor(std::FILE *stream);

// Whether a write that just failed with this errno failed because the reader has gone. Windows tells
// a pipe closed at the other end as ERROR_NO_DATA, which its C runtime makes EINVAL.
bool isBrokenPipe(int savedErrno);

// When `stream` is a Windows console: a device that writes the text to it as UTF-16, made the text
// stream's device; it must outlive the stream's use. A console shows the bytes a program writes in
// its own code page, not as UTF-8; pipes and files get the UTF-8 bytes, as everywhere. Otherwise
// (and always elsewhere) null, and the text stream is left as it is.
std::unique_ptr<QIODevice> attachConsole(QTextStream &text, std::FILE *stream);

} // namespace Terminal

} // namespace ORVIK
