#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes all of `content` to the file at `path`, replacing it (or appending, given QIODevice::Append);
// false when any of it could not be written.
inline bool writeFile(const QString &path, const QByteArray &content, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(content) == content.size();
}
