#include "apps/orvik/transfer/bodysink.h"

#include "apps/orvik/cli/binarystream.h"
#include "apps/orvik/cli/consoleoutput.h"

#include <cerrno>
#include <cstdio>
#include <utility>

namespace ORVIK {

BodySink::BodySink(const QString &fileName)
    : m_standardOutput(fileName == QLatin1String("-")), m_file(m_standardOutput ? QString() : fileName)
{}

QString BodySink::targetName() const
{
    return m_standardOutput ? QStringLiteral("standard output") : m_file.fileName();
}

bool BodySink::openTarget()
{
    bool opened = false;
    if (m_standardOutput) {
        std::fflush(stdout);
        opened = m_stdout.open(binaryDescriptor(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered,
                               QFileDevice::AutoCloseHandle);
    } else {
        // Unbuffered: each piece of the body is one write to the system, whose error is the one reported.
        opened = m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    if (!opened) {
        m_error = m_standardOutput ? m_stdout.errorString() : m_file.errorString();
        return false;
    }
    return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 BodySink::writeData(const char *data, qint64 length)
{
    if (hasFailed())
        return -1;
    if (m_standardOutput && m_holding) {
        if (m_held.size() + length <= kHeldBytes) {
            m_held.append(data, length);
            return length;
        }
        if (!releaseHeld())
            return -1;
    }
    return writeThrough(data, length) ? length : -1;
}

bool BodySink::releaseHeld()
{
    m_holding = false;
    const QByteArray held = std::exchange(m_held, QByteArray());
    return held.isEmpty() || writeThrough(held.constData(), held.size());
}

bool BodySink::writeThrough(const char *data, qint64 length)
{
    QFileDevice &target = m_standardOutput ? static_cast<QFileDevice &>(m_stdout) : m_file;
    errno = 0;
    if (target.write(data, length) != length) {
        recordFailure(target, errno);
        return false;
    }
    m_written += length;
    return true;
}

void BodySink::recordFailure(const QFileDevice &target, int savedErrno)
{
    m_brokenPipe = ConsoleOutput::isBrokenPipe(savedErrno);
    m_error = target.errorString();
    if (m_error.isEmpty() || target.error() == QFileDevice::NoError)
        m_error = savedErrno != 0 ? qt_error_string(savedErrno) : QStringLiteral("the write was cut short");
    setErrorString(m_error);
}

bool BodySink::commit()
{
    if (hasFailed())
        return false;
    close();
    if (m_standardOutput) {
        if (!releaseHeld())
            return false;
        errno = 0;
        m_stdout.close();
        if (m_stdout.error() != QFileDevice::NoError) {
            recordFailure(m_stdout, errno);
            return false;
        }
        return true;
    }
    if (!m_file.commit()) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

} // namespace ORVIK
