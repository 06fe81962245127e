#include "apps/orvik/cli/terminal.h"

#include <cerrno>

#include <sys/ioctl.h>
#include <unistd.h>

namespace ORVIK::Terminal {

bool isTerminal(std::FILE *stream)
{
    return isatty(fileno(stream)) != 0;
}

int width()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return int(size.ws_col);
    return 80;
}

int binaryDescriptor(std::FILE *stream)
{
    return fileno(stream);
}

bool isBrokenPipe(int savedErrno)
{
    return savedErrno == EPIPE;
}

std::unique_ptr<QIODevice> attachConsole(QTextStream &, std::FILE *)
{
    return nullptr;
}

} // namespace ORVIK::Terminal
