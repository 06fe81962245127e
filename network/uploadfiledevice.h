#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>

namespace ORVIK {

// The upload of a file as Qt reads it. Qt's HTTP thread asks the user thread for the body 16 KiB at a
// time, one piece in flight, and a QFile answers each piece with a read and three size queries. This
// device reads the file ahead in large pieces and answers Qt's from memory, so the user thread's part
// of each round trip is a copy. At most one piece is held (kReadAhead bytes, not the file).
//
// The size is the file's when it was opened, and only that much is sent. A file that shrinks under the
// upload fails the transfer (a read error, as Qt reports a premature end), never a short body taken
// for a whole one. Reads go through read(), not a mapping: a file truncated by someone else must
// make the upload fail, not the process crash.
class UploadFileDevice : public QIODevice
{
public:
    static constexpr qint64 kReadAhead = 1024 * 1024;

    explicit UploadFileDevice(const QString &path, QObject *parent = nullptr);

    // Opens the file read-only; false when it cannot be read, and the device then stays closed.
    bool open(OpenMode mode = ReadOnly) override;
    void close() override;
    bool isSequential() const override { return false; }
    // While closed, the file's size on disk, as a closed QFile answers.
    qint64 size() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    QFile m_file;
    qint64 m_size = 0;       // fixed when opened
    QByteArray m_piece;      // the file's bytes [m_pieceStart, m_pieceStart + m_piece.size())
    qint64 m_pieceStart = 0; // where in the file m_piece begins
};

} // namespace ORVIK
