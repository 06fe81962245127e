#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

class QFileDevice;
class QIODevice;

namespace ORVIK {

// Local files that the update logic reads and writes: a key, a description, a package, the memory
// of verified versions. Anyone who could write the folder may have put something else under such a
// name: a FIFO (whose opening or reading blocks for ever), a device, a folder. These are opened
// without blocking and used only when they are regular files. Writes are checked to the last byte,
// so that a full disk says so ("No space left on device").
class ORVIKWIDGETS_EXPORT RegularFile
{
public:
    enum class Problem {
        None,
        Missing,    // nothing under the name
        Denied,     // no permission
        Folder,     // a folder under the name
        NotRegular, // a FIFO, a device, a socket
        TooLarge,   // more bytes than the reader takes
        Failed,     // anything else; the text says what
    };

    // The file at path opened for reading, never blocking; null, with *problem and *error (the
    // system's reason), unless it is a regular file that can be read.
    static std::unique_ptr<QFile> OpenForReading(const QString &path, Problem *problem, QString *error);
    // All its bytes; TooLarge when there are more than maxBytes. Empty with *problem otherwise.
    static QByteArray Read(const QString &path, qint64 maxBytes, Problem *problem, QString *error);

    // Writes every byte or says why not. A short write is tried again, so that the reason is the
    // system's (a device that took part of the bytes reports no error for that part).
    static bool WriteAll(QIODevice &device, const char *data, qint64 size, QString *error);
    static bool WriteAll(QIODevice &device, const QByteArray &data, QString *error)
    {
        return WriteAll(device, data.constData(), data.size(), error);
    }
    // Flushes the file's buffer to the system, again past a short write, or says why not.
    static bool FlushAll(QFileDevice &file, QString *error);
};

} // namespace ORVIK
