#include "host/widgets/update/regularfile.h"

#include <QFileDevice>
#include <QIODevice>

namespace ORVIK {

QByteArray RegularFile::Read(const QString &path, qint64 maxBytes, Problem *problem, QString *error)
{
    const std::unique_ptr<QFile> file = OpenForReading(path, problem, error);
    if (!file)
        return QByteArray();
    // One byte more than allowed tells a file that is too large from one that just fits.
    QByteArray bytes = file->read(maxBytes + 1);
    if (file->error() != QFileDevice::NoError) {
        *problem = Problem::Failed;
        *error = file->errorString();
        return QByteArray();
    }
    if (bytes.size() > maxBytes) {
        *problem = Problem::TooLarge;
        *error = QStringLiteral("it is larger than %1 bytes").arg(maxBytes);
        return QByteArray();
    }
    *problem = Problem::None;
    error->clear();
    return bytes;
}

bool RegularFile::WriteAll(QIODevice &device, const char *data, qint64 size, QString *error)
{
    for (qint64 done = 0; done < size;) {
        const qint64 written = device.write(data + done, size - done);
        if (written <= 0) {
            *error = device.errorString();
            return false;
        }
        done += written;
    }
    return true;
}

bool RegularFile::FlushAll(QFileDevice &file, QString *error)
{
    for (;;) {
        const qint64 pending = file.bytesToWrite();
        if (file.flush())
            return true;
        // Part of the buffer went: the next try meets what stopped the rest and says what it is.
        if (file.bytesToWrite() >= pending) {
            *error = file.errorString();
            return false;
        }
    }
}

} // namespace ORVIK
