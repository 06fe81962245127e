#include "host/widgets/update/updatefolder.h"
#include "host/widgets/update/updatefolder_p.h"

#include "host/widgets/update/sha256.h"

#include <QDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace ORVIK {

using namespace UpdateFolderNames;

namespace {

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

QString systemError(int code = errno)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A folder of this user's that no one else may write.
bool isPrivateFolder(int folder)
{
    struct stat status
    {
    };
    return fstat(folder, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

qsizetype UpdateFolder::NameBytes(const QString &name)
{
    return encoded(name).size();
}

QString UpdateFolder::placingError(const QString &) const
{
    // Paths as long as the file system takes can be started.
    return QString();
}

std::unique_ptr<UpdateFolder> UpdateFolder::Open(const QString &parent, QString *error)
{
    // The chosen folder is the host's choice and is opened as named; everything below it is not.
    const int parentFolder = ::open(encoded(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFolder < 0) {
        *error = QStringLiteral("cannot open the folder %1: %2").arg(parent, systemError());
        return nullptr;
    }
    std::unique_ptr<UpdateFolder> folder;
    *error = QStringLiteral("no private folder could be made in %1").arg(parent);
    for (int attempt = 0; !folder && attempt < kAttempts; ++attempt) {
        const QString name = folderName(attempt);
        // A folder made here is this user's, 0700 (less the umask); one that was there is checked.
        if (::mkdirat(parentFolder, encoded(name).constData(), 0700) != 0 && errno != EEXIST) {
            *error = QStringLiteral("cannot make a folder in %1: %2").arg(parent, systemError());
            break;
        }
        const int handle =
            ::openat(parentFolder, encoded(name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (handle >= 0 && isPrivateFolder(handle))
            folder.reset(new UpdateFolder(QDir(parent).filePath(name), handle));
        else if (handle >= 0)
            ::close(handle);
    }
    ::close(parentFolder);
    if (folder)
        error->clear();
    return folder;
}

UpdateFolder::~UpdateFolder()
{
    closeHeld();
    ::close(static_cast<int>(m_folder));
}

void UpdateFolder::closeHeld()
{
    if (m_held >= 0)
        ::close(static_cast<int>(m_held));
    m_held = -1;
    m_heldName.clear();
}

std::unique_ptr<QFile> UpdateFolder::createTemporary(QString *name, QString *error)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        *name = QStringLiteral(".part-") + randomSuffix();
        const int handle = ::openat(static_cast<int>(m_folder), encoded(*name).constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (handle < 0 && errno == EEXIST)
            continue;
        auto file = std::make_unique<QFile>();
        if (handle >= 0 && file->open(handle, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            return file;
        *error = QStringLiteral("cannot create a file in %1: %2").arg(m_path, systemError());
        if (handle >= 0)
            ::close(handle);
        return nullptr;
    }
    *error = QStringLiteral("cannot find a free file name in %1").arg(m_path);
    return nullptr;
}

void UpdateFolder::remove(const QString &name)
{
    ::unlinkat(static_cast<int>(m_folder), encoded(name).constData(), 0);
}

std::unique_ptr<QFile> UpdateFolder::openKept(const QString &name, QString *error)
{
    const int folder = static_cast<int>(m_folder);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // O_NONBLOCK: a FIFO under this name must not hang the open; it is refused below.
        const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (attempt == 0 ? 0 : O_EXCL);
        const int handle = ::openat(folder, encoded(name).constData(), flags, 0600);
        struct stat status
        {
        };
        const bool plain = handle >= 0 && fstat(handle, &status) == 0 && S_ISREG(status.st_mode) &&
                           status.st_uid == geteuid() && status.st_nlink == 1;
        if (plain) {
            // Back to blocking reads and writes, as every regular file has them.
            ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) & ~O_NONBLOCK);
            auto kept = std::make_unique<QFile>();
            if (kept->open(handle, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle))
                return kept;
            ::close(handle);
            *error = QStringLiteral("cannot open %1 in %2").arg(name, m_path);
            return nullptr;
        }
        const int code = errno;
        if (handle >= 0)
            ::close(handle);
        *error = handle >= 0 ? QStringLiteral("%1 in %2 is not a plain file of this user's").arg(name, m_path)
                             : QStringLiteral("cannot open %1 in %2: %3").arg(name, m_path, systemError(code));
        // A link, a FIFO, a file with a second name: it goes, and a fresh file takes its name.
        if (attempt == 0 && ::unlinkat(folder, encoded(name).constData(), 0) == 0)
            continue;
        return nullptr;
    }
    return nullptr;
}

QString UpdateFolder::publish(const QString &temporary, const QString &name, QString *error)
{
    const int folder = static_cast<int>(m_folder);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QString candidate = candidateName(name, attempt);
        // RENAME_NOREPLACE fails on an existing name; a file system without it gets a hard link, which
        // fails the same way, and the temporary name is then dropped.
        int result = ::renameat2(folder, encoded(temporary).constData(), folder, encoded(candidate).constData(),
                                 RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::linkat(folder, encoded(temporary).constData(), folder, encoded(candidate).constData(), 0);
            if (result == 0)
                remove(temporary);
        }
        if (result == 0)
            return candidate;
        if (errno != EEXIST) {
            *error = QStringLiteral("cannot name the package %1: %2").arg(candidate, systemError());
            return QString();
        }
    }
    *error = QStringLiteral("no free name for %1 in %2").arg(name, m_path);
    return QString();
}

QString UpdateFolder::heldPath() const
{
    if (m_held < 0)
        return QString();
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(m_held);
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink(link.constData(), target.data(), size_t(target.size()));
    if (length <= 0 || length >= target.size())
        return m_path + QLatin1Char('/') + m_heldName;
    return QFile::decodeName(target.left(length));
}

bool UpdateFolder::hold(const QString &name, QString *error)
{
    closeHeld();
    const int file = ::openat(static_cast<int>(m_folder), encoded(name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status
    {
    };
    if (file < 0 || fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        *error = QStringLiteral("cannot open %1 as a file of this user's: %2").arg(name, systemError());
        if (file >= 0)
            ::close(file);
        return false;
    }
    m_held = file;
    m_heldName = name;
    return true;
}

QByteArray UpdateFolder::hashHeld(qint64 *size, QString *error)
{
    if (m_held < 0) {
        *error = QStringLiteral("no package is held");
        return QByteArray();
    }
    Sha256 hash;
    QByteArray piece(kReadPiece, Qt::Uninitialized);
    *size = 0;
    for (;;) {
        const ssize_t read = ::pread(static_cast<int>(m_held), piece.data(), static_cast<size_t>(piece.size()), *size);
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0) {
            *error = systemError();
            return QByteArray();
        }
        if (read == 0)
            return hash.result();
        hash.addData(piece.constData(), read);
        *size += read;
    }
}

bool UpdateFolder::startHeld(const QStringList &environment, QString *error)
{
    const int file = static_cast<int>(m_held);
    // Through the descriptor: a path could lead to another file by now.
    if (file < 0 || ::fchmod(file, 0700) != 0) {
        *error = file < 0 ? QStringLiteral("no package is held") : systemError();
        return false;
    }
    // Everything the child uses is made before fork: between fork and exec only calls that are safe
    // in a child of a threaded process.
    const QByteArray program = encoded(m_heldName);
    std::vector<QByteArray> entries;
    for (const QString &entry : environment)
        entries.push_back(QFile::encodeName(entry));
    std::vector<char *> envp;
    for (QByteArray &entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program.constData()), nullptr};
    const int folder = static_cast<int>(m_folder);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        *error = systemError();
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // Detached: a new session, and a grandchild that init adopts.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            const int code = grandchild < 0 ? errno : 0;
            if (code != 0)
                (void)!::write(report[1], &code, sizeof code);
            ::_exit(0);
        }
        // A script's interpreter opens /dev/fd/N, so the descriptor stays open across exec here.
        ::fcntl(file, F_SETFD, 0);
        if (::fchdir(folder) == 0)
            ::fexecve(file, argv, envp.data());
        const int code = errno;
        (void)!::write(report[1], &code, sizeof code);
        ::_exit(127);
    }
    ::close(report[1]);
    int code = child < 0 ? errno : 0;
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        // The pipe closes without a word when exec succeeded.
        ssize_t read = 0;
        while ((read = ::read(report[0], &code, sizeof code)) < 0 && errno == EINTR) {
        }
        if (read != sizeof code)
            code = 0;
    }
    ::close(report[0]);
    if (code != 0) {
        *error = systemError(code);
        return false;
    }
    return true;
}

} // namespace ORVIK
