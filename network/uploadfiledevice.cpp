#include "network/uploadfiledevice.h"

#include <cstring>

namespace ORVIK {

UploadFileDevice::UploadFileDevice(const QString &path, QObject *parent) : QFile(path, parent)
{}

bool UploadFileDevice::open(OpenMode mode)
{
    if (mode != ReadOnly || isOpen())
        return false;
    // Unbuffered: the piece is the only buffer; QIODevice's own would copy every byte once more.
    if (!QFile::open(ReadOnly | Unbuffered))
        return false;
    m_size = QFile::size();
    m_piece.clear();
    m_pieceStart = 0;
    return true;
}

void UploadFileDevice::close()
{
    QFile::close();
    m_piece = QByteArray(); // its memory too
}

qint64 UploadFileDevice::size() const
{
    return isOpen() ? m_size : QFile::size();
}

qint64 UploadFileDevice::readData(char *data, qint64 maxSize)
{
    const qint64 at = pos();
    if (at >= m_size || maxSize <= 0)
        return 0;
    if (at < m_pieceStart || at >= m_pieceStart + m_piece.size()) {
        const qint64 wanted = qMin(kReadAhead, m_size - at);
        m_piece.resize(wanted);
        qint64 got = 0;
        // The file's own position may be anywhere after Qt rewound for a resend: set it, then read
        // through the plain file underneath.
        if (QFile::seek(at)) {
            while (got < wanted) {
                const qint64 n = QFile::readData(m_piece.data() + got, wanted - got);
                if (n <= 0)
                    break;
                got += n;
            }
        }
        m_pieceStart = at;
        if (got < wanted) {
            // The file is shorter than when it was opened, or unreadable: what follows is not the upload.
            m_piece.clear();
            if (error() == QFileDevice::NoError)
                setErrorString(QStringLiteral("the file became shorter while it was being sent"));
            return -1;
        }
    }
    const qint64 offset = at - m_pieceStart;
    const qint64 count = qMin(maxSize, qint64(m_piece.size()) - offset);
    std::memcpy(data, m_piece.constData() + offset, size_t(count));
    return count;
}

} // namespace ORVIK
