#pragma once

#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <QString>

namespace ORVIK {

// Where a download's body goes. A regular file (or a name that does not exist yet) is replaced only
// when the whole body arrived: the body goes into a temporary file beside it, beside the target of a
// symbolic link, which takes the old file's mode. Standard output and anything else that is written
// in place (a device, a FIFO, a descriptor path such as /dev/fd/3; on Windows NUL or CON) get the
// bytes as they come, except the body's first bytes, which wait until more arrive or the transfer
// succeeds: an HTTP error is known only at the end, and its page (small, as error pages are) is then
// never written as the download.
//
// Every write goes straight to the system, checked, and the first failure keeps the system's reason
// and refuses every write after it.
class BodySink : public QIODevice
{
    Q_OBJECT
public:
    // "-" is standard output.
    explicit BodySink(const QString &fileName);

    // Opens the target; false with error() when it cannot be written.
    bool openTarget();
    // Makes what was written final: the file takes the body (flushed, synced, renamed over the old
    // one); a target written in place is closed, which reports what a file system reports only then.
    bool commit();

    bool toStandardOutput() const { return m_kind == Kind::StandardOutput; }
    // Where the body goes, as a person named it.
    QString targetName() const;
    bool hasFailed() const { return !m_error.isEmpty(); }
    // The whole message, for ErrorLine to print.
    QString message() const;
    const QString &error() const { return m_error; }
    // The reader went away; other tools stop quietly then.
    bool brokenPipe() const { return m_brokenPipe; }
    qint64 bytesWritten() const { return m_written; }

    bool isSequential() const override { return true; }

    static constexpr qint64 kHeldBytes = 64 * 1024;
    // Whether a name is written in place rather than replaced, whatever is there now.
    static bool namesStream(const QString &fileName);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    enum class Kind { StandardOutput, InPlace, Replaced };

    bool openReplaced();
    void recordFailure(const QFileDevice &target, int savedErrno);
    bool writeThrough(const char *data, qint64 length);
    bool releaseHeld();

    Kind m_kind;
    QString m_name;
    QFile m_stream; // standard output, or a target written in place
    QSaveFile m_file;
    QByteArray m_held;
    bool m_holding = true;
    QString m_error;
    bool m_cannotReplace = false;
    bool m_brokenPipe = false;
    qint64 m_written = 0;
};

} // namespace ORVIK
