#include "apps/orvik/cli/fileaccess.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace ORVIK::FileAccess {

bool accessDenied(const QString &path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == EACCES;
}

bool searchDenied(const QString &folder)
{
    return ::access(QFile::encodeName(folder).constData(), X_OK) != 0;
}

bool namesSystemStream(const QString &fileName)
{
    // A descriptor path stands for whatever the descriptor is open on, a regular file too: that is
    // what the caller handed over, not a file to replace.
    static const QRegularExpression descriptor(
        QStringLiteral("^/(dev/(fd/|stdout$|stderr$)|proc/(self|thread-self|[0-9]+)/fd/)"));
    return descriptor.match(fileName).hasMatch();
}

QString nativeStreamName(const QString &fileName)
{
    return fileName;
}

int duplicateDescriptor(int descriptor)
{
    return ::dup(descriptor);
}

void closeDescriptor(int descriptor)
{
    ::close(descriptor);
}

qint64 readDescriptor(int descriptor, char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, size);
        if (got >= 0 || errno != EINTR)
            return qint64(got);
    }
}

} // namespace ORVIK::FileAccess
