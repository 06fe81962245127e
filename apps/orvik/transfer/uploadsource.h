#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QTemporaryFile>

#include <memory>

namespace ORVIK {

// The file that `orvik put` hands to the module. A regular file goes as it is, read from disk as it
// is sent. Standard input ("-") and anything else that can be read only once (a pipe, a FIFO, a
// terminal) is first copied to a private temporary file until its end: the module sends a file that
// it can measure, and Qt would otherwise hold a stream of unknown length whole in memory.
class UploadSource
{
public:
    // Checks the file and, for a stream, reads it to its end, at the latest by the deadline; false
    // with error() when it cannot be read (missing, a folder, not readable, a failed read or a full
    // temporary folder), or with timedOut() when the stream did not end in time.
    bool prepare(const QString &argument, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    const QString &error() const { return m_error; }
    bool timedOut() const { return m_timedOut; }
    // What the module is given, and its size.
    QString path() const;
    qint64 size() const { return m_size; }

private:
    bool copyStream(const QString &argument, QDeadlineTimer deadline);

    QString m_path;
    std::unique_ptr<QTemporaryFile> m_copy;
    qint64 m_size = 0;
    QString m_error;
    bool m_timedOut = false;
};

} // namespace ORVIK
