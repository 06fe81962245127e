#include "apps/orvik/transfer/uploadsource.h"

#include "apps/orvik/cli/fileaccess.h"
#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/cli/terminal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ORVIK {

namespace {

constexpr size_t kCopyPiece = 1 << 20;
// Pieces read ahead of the copy: the reader waits for the copy beyond this.
constexpr size_t kPiecesAhead = 4;

// Reads a descriptor to its end on a thread of its own, so that the wait for its bytes can end at a
// deadline: a read from a pipe that stays silent cannot be interrupted portably. A reader given up
// before the end leaves its thread behind, blocked in that read; it touches nothing but the state
// that it shares, and ends with the process.
class StreamReader
{
public:
    struct Piece
    {
        std::vector<char> bytes; // empty: the end, or a failed read with its errno
        int error = 0;
    };

    // Takes the descriptor when it is to close it.
    StreamReader(int descriptor, bool closeWhenDone) : m_shared(std::make_shared<Shared>())
    {
        m_thread = std::thread([shared = m_shared, descriptor, closeWhenDone] {
            run(*shared, descriptor);
            if (closeWhenDone)
                FileAccess::closeDescriptor(descriptor);
        });
    }
    ~StreamReader()
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        const bool ended = m_shared->ended;
        m_shared->abandoned = true;
        lock.unlock();
        m_shared->changed.notify_all();
        if (ended)
            m_thread.join();
        else
            m_thread.detach();
    }
    StreamReader(const StreamReader &) = delete;
    StreamReader &operator=(const StreamReader &) = delete;

    // The next piece; false when the deadline passed first.
    bool next(Piece &piece, const QDeadlineTimer &deadline)
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        const auto ready = [this] { return !m_shared->pieces.empty(); };
        if (deadline.isForever()) {
            m_shared->changed.wait(lock, ready);
        } else if (!m_shared->changed.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(), ready)) {
            return false;
        }
        piece = std::move(m_shared->pieces.front());
        m_shared->pieces.pop_front();
        lock.unlock();
        m_shared->changed.notify_all();
        return true;
    }

private:
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Piece> pieces;
        bool ended = false;
        bool abandoned = false;
    };

    static void run(Shared &shared, int descriptor)
    {
        // One buffer for every read: a pipe gives 64 KiB at a time, and a piece made at full size
        // for each would clear 1 MiB for every 64 KiB that came (two thirds of the CPU of `put -`).
        std::vector<char> buffer(kCopyPiece);
        for (;;) {
            Piece piece;
            const qint64 got = FileAccess::readDescriptor(descriptor, buffer.data(), buffer.size());
            piece.error = got < 0 ? errno : 0;
            if (got > 0)
                piece.bytes.assign(buffer.data(), buffer.data() + got);
            const bool last = got <= 0;
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.pieces.push_back(std::move(piece));
            shared.ended = last;
            shared.changed.notify_all();
            if (last)
                return;
            shared.changed.wait(lock, [&] { return shared.abandoned || shared.pieces.size() < kPiecesAhead; });
            if (shared.abandoned)
                return;
        }
    }

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace

QString UploadSource::path() const
{
    return m_copy ? m_copy->fileName() : m_path;
}

bool UploadSource::prepare(const QString &argument, QDeadlineTimer deadline)
{
    const QString shown =
        argument == QLatin1String("-") ? QStringLiteral("standard input") : SafeText::printable(argument);
    if (argument == QLatin1String("-"))
        return copyStream(argument, deadline);
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
        return copyStream(argument, deadline);
    }
    m_path = argument;
    m_size = file.size();
    return true;
}

bool UploadSource::copyStream(const QString &argument, QDeadlineTimer deadline)
{
    const bool standardInput = argument == QLatin1String("-");
    const QString shown = standardInput ? QStringLiteral("standard input") : SafeText::printable(argument);
    int descriptor = -1;
    if (standardInput) {
        descriptor = Terminal::binaryDescriptor(stdin);
    } else {
        QFile input(argument);
        if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            m_error = QStringLiteral("cannot read %1: %2").arg(shown, input.errorString());
            return false;
        }
        // The reader's own descriptor: it may outlive this function, blocked in a read.
        descriptor = FileAccess::duplicateDescriptor(input.handle());
        if (descriptor < 0) {
            m_error = QStringLiteral("cannot read %1: %2").arg(shown, qt_error_string(errno));
            return false;
        }
    }
    // Qt names no temporary folder when $TMPDIR does not exist, and a relative name would put the
    // copy into the working folder.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty()) {
        if (!standardInput)
            FileAccess::closeDescriptor(descriptor);
        m_error = QStringLiteral("cannot make a temporary copy of %1 in %2: no such folder")
                      .arg(shown, SafeText::printable(qEnvironmentVariable("TMPDIR")));
        return false;
    }
    // The system's reason: Qt's text for a failed flush can be "Unknown error".
    const auto copyFailed = [&](int savedErrno) {
        m_error = QStringLiteral("cannot make a temporary copy of %1 in %2: %3")
                      .arg(shown, QDir::toNativeSeparators(folder),
                           savedErrno != 0 ? qt_error_string(savedErrno) : m_copy->errorString());
        return false;
    };
    // QTemporaryFile makes the file readable by its owner only, in $TMPDIR (or the system's folder).
    m_copy = std::make_unique<QTemporaryFile>(QDir(folder).filePath(QStringLiteral("orvik-upload-XXXXXX")));
    errno = 0;
    if (!m_copy->open()) {
        const int savedErrno = errno;
        if (!standardInput)
            FileAccess::closeDescriptor(descriptor);
        return copyFailed(savedErrno);
    }
    // The reader starts only now, so that a failure above leaves no thread behind.
    StreamReader reader(descriptor, !standardInput);
    for (;;) {
        StreamReader::Piece piece;
        if (!reader.next(piece, deadline)) {
            m_timedOut = true;
            return false;
        }
        if (piece.bytes.empty() && piece.error != 0) {
            m_error = QStringLiteral("cannot read %1: %2").arg(shown, qt_error_string(piece.error));
            return false;
        }
        if (piece.bytes.empty())
            break;
        const qint64 length = qint64(piece.bytes.size());
        errno = 0;
        if (m_copy->write(piece.bytes.data(), length) != length)
            return copyFailed(errno);
        m_size += length;
    }
    // The last bytes may still wait in the file's buffer: only the flush shows a full disk.
    errno = 0;
    if (!m_copy->flush())
        return copyFailed(errno);
    m_copy->close(); // the name stays; the module opens it anew
    return true;
}

} // namespace ORVIK
