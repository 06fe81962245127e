#pragma once

#include <QByteArray>
#include <QFile>

namespace ORVIK {

// The file of an upload as Qt reads it: a QFile that reads ahead. Qt's HTTP thread asks the user
// thread for the body 16 KiB at a time, one piece in flight, and a plain QFile answers each piece
// with a read and three size queries. This one reads the file ahead in large pieces and answers
// Qt's from memory, so the user thread's part of each round trip is a copy. At most one piece is
// held (kReadAhead bytes, not the file).
//
// The size is the file's when it was opened, and only that much is sent. A file that shrinks under
// the upload fails the transfer (a read error, as Qt reports a premature end), never a short body
// taken for a whole one. Reads go through read(), not a mapping: a file truncated by someone else
// must make the upload fail, not the process crash.
class UploadFileDevice : public QFile
{
public:
    static constexpr qint64 kReadAhead = 1024 * 1024;

    explicit UploadFileDevice(const QString &path, QObject *parent = nullptr);

    // Read-only only; false when the file cannot be read, and it then stays closed.
    bool open(OpenMode mode = ReadOnly) override;
    void close() override;
    // While open, the size it had when it was opened; while closed, the file's on disk.
    qint64 size() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    qint64 m_size = 0;       // fixed when opened
    QByteArray m_piece;      // the file's bytes [m_pieceStart, m_pieceStart + m_piece.size())
    qint64 m_pieceStart = 0; // where in the file m_piece begins
};

} // namespace ORVIK
