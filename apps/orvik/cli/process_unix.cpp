#include "apps/orvik/cli/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace ORVIK::Process {

void prepare()
{
    // A closed standard descriptor would be taken by the next file orvik opens (the module, a
    // download's temporary file), and what orvik prints would land in it. Opened on /dev/null the
    // other way round, it refuses every use (EBADF), and the final check reports a lost output.
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != descriptor) {
            ::dup2(opened, descriptor);
            ::close(opened);
        }
    }
    // orvik reports both failed writes and removes what it had begun, where the signals would kill it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

QStringList arguments(int argc, char *argv[])
{
    QStringList result;
    for (int i = 1; i < argc; ++i)
        result.append(QString::fromLocal8Bit(argv[i]));
    return result;
}

bool displayNamed()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

bool endsWithoutUnloading()
{
    return false;
}

void endNow(int code)
{
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace ORVIK::Process
