#include "apps/orvik/transfer/bodysink.h"

#include "apps/orvik/cli/fileaccess.h"
#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/cli/terminal.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace ORVIK {

BodySink::BodySink(const QString &fileName)
    : m_kind(fileName == QLatin1String("-") ? Kind::StandardOutput : Kind::Replaced), m_name(fileName)
{}

QString BodySink::targetName() const
{
    return toStandardOutput() ? QStringLiteral("standard output") : SafeText::printable(m_name);
}

QString BodySink::message() const
{
    if (m_cannotReplace)
        return QStringLiteral("cannot replace %1: its folder is not writable").arg(targetName());
    return QStringLiteral("cannot write %1: %2").arg(targetName(), m_error);
}

bool BodySink::namesStream(const QString &fileName)
{
    if (FileAccess::namesSystemStream(fileName))
        return true;
    const QFileInfo info(fileName); // links followed
    return info.exists() && !info.isFile() && !info.isDir();
}

bool BodySink::openTarget()
{
    bool opened = false;
    if (m_kind == Kind::StandardOutput) {
        std::fflush(stdout);
        opened = m_stream.open(Terminal::binaryDescriptor(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered,
                               QFileDevice::AutoCloseHandle);
    } else if (namesStream(m_name)) {
        m_kind = Kind::InPlace;
        m_stream.setFileName(FileAccess::nativeStreamName(m_name));
        // Append: nothing is created or truncated, as a device, a FIFO or a descriptor's file wants.
        opened = m_stream.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    } else {
        return openReplaced();
    }
    if (!opened) {
        m_error = m_stream.errorString();
        return false;
    }
    return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

bool BodySink::openReplaced()
{
    // The temporary file goes beside the link's target, as QSaveFile places it, and an existing
    // file can only be replaced from its folder.
    QFileInfo target(m_name);
    for (int depth = 0; depth < 128 && target.isSymLink(); ++depth)
        target.setFile(target.symLinkTarget());
    if (target.exists() && !QFileInfo(target.absolutePath()).isWritable()) {
        m_cannotReplace = true;
        m_error = QStringLiteral("its folder is not writable");
        return false;
    }
    m_file.setFileName(m_name);
    // Unbuffered: each piece of the body is one write to the system, whose error is the one reported.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 BodySink::writeData(const char *data, qint64 length)
{
    if (hasFailed())
        return -1;
    if (m_kind != Kind::Replaced && m_holding) {
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
    QFileDevice &target = m_kind == Kind::Replaced ? static_cast<QFileDevice &>(m_file) : m_stream;
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
    m_brokenPipe = Terminal::isBrokenPipe(savedErrno);
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
    if (m_kind != Kind::Replaced) {
        if (!releaseHeld())
            return false;
        errno = 0;
        m_stream.close();
        if (m_stream.error() != QFileDevice::NoError) {
            recordFailure(m_stream, errno);
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
