#include "apps/orvik/transfer/uploadsource.h"

#include "apps/orvik/cli/binarystream.h"
#include "apps/orvik/cli/fileaccess.h"
#include "apps/orvik/cli/safetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

namespace ORVIK {

namespace {

constexpr qint64 kCopyPiece = 1 << 20;

} // namespace

QString UploadSource::path() const
{
    return m_copy ? m_copy->fileName() : m_path;
}

bool UploadSource::prepare(const QString &argument)
{
    const QString shown =
        argument == QLatin1String("-") ? QStringLiteral("standard input") : SafeText::printable(argument);
    if (argument == QLatin1String("-"))
        return copyStream(argument);
    const QFileInfo info(argument);
    if (!info.exists()) {
        m_error = QStringLiteral("cannot upload %1: %2").arg(shown, FileAccess::whyUnreachable(argument));
        return false;
    }
    if (info.isDir()) {
        m_error = QStringLiteral("cannot upload %1: it is a folder").arg(shown);
        return false;
    }
    QFile file(argument);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1: %2").arg(shown, file.errorString());
        return false;
    }
    if (!info.isFile() || file.isSequential()) {
        file.close();
        return copyStream(argument);
    }
    m_path = argument;
    m_size = file.size();
    return true;
}

bool UploadSource::copyStream(const QString &argument)
{
    const bool standardInput = argument == QLatin1String("-");
    const QString shown = standardInput ? QStringLiteral("standard input") : SafeText::printable(argument);
    QFile input;
    bool opened = false;
    if (standardInput) {
        opened = input.open(binaryDescriptor(stdin), QIODevice::ReadOnly | QIODevice::Unbuffered);
    } else {
        input.setFileName(argument);
        opened = input.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    if (!opened) {
        m_error = QStringLiteral("cannot read %1: %2").arg(shown, input.errorString());
        return false;
    }
    // QTemporaryFile makes the file readable by its owner only, in $TMPDIR (or the system's folder).
    m_copy = std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("orvik-upload-XXXXXX")));
    if (!m_copy->open()) {
        m_error = QStringLiteral("cannot make a temporary copy of %1: %2").arg(shown, m_copy->errorString());
        return false;
    }
    QByteArray piece(kCopyPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 got = input.read(piece.data(), piece.size());
        if (got < 0) {
            m_error = QStringLiteral("cannot read %1: %2").arg(shown, input.errorString());
            return false;
        }
        if (got == 0)
            break;
        if (m_copy->write(piece.constData(), got) != got) {
            m_error = QStringLiteral("cannot make a temporary copy of %1 in %2: %3")
                          .arg(shown, QDir::tempPath(), m_copy->errorString());
            return false;
        }
        m_size += got;
    }
    if (!m_copy->flush()) {
        m_error = QStringLiteral("cannot make a temporary copy of %1 in %2: %3")
                      .arg(shown, QDir::tempPath(), m_copy->errorString());
        return false;
    }
    m_copy->close(); // the name stays; the module opens it anew
    return true;
}

} // namespace ORVIK
