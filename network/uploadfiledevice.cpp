#include "network/uploadfiledevice.h"

#include <cstring>

namespace ORVIK {

UploadFileDevice::UploadFileDevice(const QString &path, QObject *parent) : QIODevice(parent), m_file(path)
{}

bool UploadFileDevice::open(OpenMode mode)
{
    if (mode != ReadOnly || isOpen())
        return false;
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        setErrorString(m_file.errorString());
        return false;
    }
    m_size = m_file.size();
    m_piece.clear();
    m_pieceStart = 0;
    // Unbuffered: the piece is the only buffer; QIODevice's own would copy every byte once more.
    return QIODevice::open(ReadOnly | Unbuffered);
}

void UploadFileDevice::close()
{
    QIODevice::close();
    m_file.close();
    m_piece = QByteArray(); // its memory too
}

qint64 UploadFileDevice::size() const
{
    return isOpen() ? m_size : m_file.size();
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
        if (m_file.seek(at)) {
            while (got < wanted) {
                const qint64 n = m_file.read(m_piece.data() + got, wanted - got);
                if (n <= 0)
                    break;
                got += n;
            }
        }
        m_pieceStart = at;
        if (got < wanted) {
            // The file is shorter than when it was opened, or unreadable: what follows is not the upload.
            m_piece.clear();
            setErrorString(m_file.error() != QFileDevice::NoError
                               ? m_file.errorString()
                               : QStringLiteral("the file became shorter while it was being sent"));
            return -1;
        }
    }
    const qint64 offset = at - m_pieceStart;
    const qint64 count = qMin(maxSize, qint64(m_piece.size()) - offset);
    std::memcpy(data, m_piece.constData() + offset, size_t(count));
    return count;
}

qint64 UploadFileDevice::writeData(const char *, qint64)
{
    return -1;
}

} // namespace ORVIK
