#include "apps/orvik/cli/terminal.h"

#include <QStringDecoder>
#include <QTextStream>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace ORVIK::Terminal {

namespace {

HANDLE consoleOf(std::FILE *stream)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Text for a console, written as UTF-16 (WriteConsoleW).
class ConsoleDevice : public QIODevice
{
public:
    explicit ConsoleDevice(HANDLE console) : m_console(console) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char *, qint64) override { return -1; }

    qint64 writeData(const char *data, qint64 length) override
    {
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
    }

private:
    HANDLE m_console;
    // Stateful: a character split between two writes is completed by the second.
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

} // namespace

bool isTerminal(std::FILE *stream)
{
    return consoleOf(stream) != nullptr;
}

int width()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return int(info.srWindow.Right - info.srWindow.Left + 1);
    return 80;
}

int binaryDescriptor(std::FILE *stream)
{
    const int descriptor = _fileno(stream);
    _setmode(descriptor, _O_BINARY);
    return descriptor;
}

bool isBrokenPipe(int savedErrno)
{
    return savedErrno == EPIPE ||
           (savedErrno == EINVAL && (_doserrno == ERROR_NO_DATA || _doserrno == ERROR_BROKEN_PIPE));
}

std::unique_ptr<QIODevice> attachConsole(QTextStream &text, std::FILE *stream)
{
    HANDLE console = consoleOf(stream);
    if (!console)
        return nullptr;
    auto device = std::make_unique<ConsoleDevice>(console);
    text.setDevice(device.get());
    return device;
}

} // namespace ORVIK::Terminal
