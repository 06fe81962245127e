#include "apps/orvik/cli/consoleoutput.h"

#include <QTextStream>

#include <algorithm>

#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ORVIK {

namespace {

#ifdef Q_OS_WIN
HANDLE consoleOf(std::FILE *file)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}
#endif

} // namespace

ConsoleOutput::ConsoleOutput(void *console) : m_console(console)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

ConsoleOutput::~ConsoleOutput() = default;

std::unique_ptr<ConsoleOutput> ConsoleOutput::attach(QTextStream &stream, std::FILE *file)
{
#ifdef Q_OS_WIN
    if (HANDLE console = consoleOf(file)) {
        std::unique_ptr<ConsoleOutput> device(new ConsoleOutput(console));
        stream.setDevice(device.get());
        return device;
    }
#else
    Q_UNUSED(stream)
    Q_UNUSED(file)
#endif
    return nullptr;
}

bool ConsoleOutput::isTerminal(std::FILE *file)
{
#ifdef Q_OS_WIN
    return consoleOf(file) != nullptr;
#else
    return isatty(fileno(file)) != 0;
#endif
}

bool ConsoleOutput::isBrokenPipe(int savedErrno)
{
#ifdef Q_OS_WIN
    return savedErrno == EPIPE ||
           (savedErrno == EINVAL && (_doserrno == ERROR_NO_DATA || _doserrno == ERROR_BROKEN_PIPE));
#else
    return savedErrno == EPIPE;
#endif
}

qint64 ConsoleOutput::readData(char *, qint64)
{
    return -1;
}

qint64 ConsoleOutput::writeData(const char *data, qint64 length)
{
#ifdef Q_OS_WIN
    const QString text = m_decoder.decode(QByteArrayView(data, length));
    const auto *units = reinterpret_cast<const wchar_t *>(text.utf16());
    for (qsizetype done = 0; done < text.size();) {
        // In pieces: old consoles refuse very large writes.
        const DWORD piece = DWORD(std::min<qsizetype>(text.size() - done, 8192));
        DWORD written = 0;
        if (!WriteConsoleW(m_console, units + done, piece, &written, nullptr) || written == 0)
            return -1;
        done += written;
    }
    return length;
#else
    Q_UNUSED(data)
    Q_UNUSED(length)
    return -1;
#endif
}

} // namespace ORVIK
