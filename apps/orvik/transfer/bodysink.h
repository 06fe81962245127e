#pragma once

#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <QString>

namespace ORVIK {

// Where a download's body goes: standard output, or a file that is replaced only when the whole body
// arrived. Every write goes straight to the system, checked, and the first failure keeps the
// system's reason and refuses every write after it. On standard output the body's first bytes wait
// until more arrive or the transfer succeeds: an HTTP error is known only at the end, and its page
// (small, as error pages are) is then never written as the download.
class BodySink : public QIODevice
{
    Q_OBJECT
public:
    // "-" is standard output.
    explicit BodySink(const QString &fileName);

    // Opens the target; false with error() when it cannot be written.
    bool openTarget();
    // Makes what was written final: the file takes the body (flushed, synced, renamed over the old
    // one); standard output is closed, which reports what a file system reports only then.
    bool commit();

    bool toStandardOutput() const { return m_standardOutput; }
    // Where the body goes, as a person named it.
    QString targetName() const;
    bool hasFailed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    // The reader went away; other tools stop quietly then.
    bool brokenPipe() const { return m_brokenPipe; }
    qint64 bytesWritten() const { return m_written; }

    bool isSequential() const override { return true; }

    static constexpr qint64 kHeldBytes = 64 * 1024;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    void recordFailure(const QFileDevice &target, int savedErrno);
    bool writeThrough(const char *data, qint64 length);
    bool releaseHeld();

    bool m_standardOutput;
    QFile m_stdout;
    QSaveFile m_file;
    QByteArray m_held;
    bool m_holding = true;
    QString m_error;
    bool m_brokenPipe = false;
    qint64 m_written = 0;
};

} // namespace ORVIK
