#pragma once

#include <QIODevice>
#include <QStringDecoder>

#include <cstdio>
#include <memory>

class QTextStream;

namespace ORVIK {

// Text for a Windows console. A console shows the bytes a program writes in its own code page,
// not as UTF-8, so text for a console goes to it as UTF-16 (WriteConsoleW); pipes and files get
// the UTF-8 bytes, as everywhere. With the helpers that tell a console and a closed pipe as Windows
// reports them.
class ConsoleOutput : public QIODevice
{
public:
    ~ConsoleOutput() override;

    // When `file` is a console (Windows only): a device that writes to it, made the stream's device;
    // it must outlive the stream's use. Otherwise null, and the stream is left as it is.
    static std::unique_ptr<ConsoleOutput> attach(QTextStream &stream, std::FILE *file);
    // Whether a standard stream is a terminal. On Windows only a console is one: NUL is a character
    // device as well, which _isatty takes for a terminal.
    static bool isTerminal(std::FILE *file);
    // Whether a write that just failed with this errno failed because the reader has gone. Windows
    // tells a pipe closed at the other end as ERROR_NO_DATA, which its C runtime makes EINVAL.
    static bool isBrokenPipe(int savedErrno);

protected:
    qint64 readData(char *data, qint64 maxLength) override;
    qint64 writeData(const char *data, qint64 length) override;

private:
    explicit ConsoleOutput(void *console);

    void *m_console;
    // Stateful: a character split between two writes is completed by the second.
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

} // namespace ORVIK
