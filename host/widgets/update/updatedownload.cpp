#include "host/widgets/update/updatedownload.h"

#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkerror.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/requestdriver.h"
#include "host/widgets/update/filelock.h"
#include "host/widgets/update/packagerequest.h"
#include "host/widgets/update/regularfile.h"
#include "host/widgets/update/sha256.h"
#include "host/widgets/update/updatedescription.h"
#include "host/widgets/update/updatefolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QUrl>

#include <string>

namespace ORVIK {

namespace {

// A validator is a quoted tag or a date: anything longer in the file beside the partial is not one.
constexpr qint64 kMaxValidatorBytes = 1024;
constexpr qint64 kHashPiece = 1 << 20;

QString bytesText(qint64 bytes)
{
    return QStringLiteral("%1 bytes").arg(bytes);
}

// The name cut to at most `limit` bytes, never inside a character (a surrogate pair is one).
QString cutName(const QString &name, qsizetype limit)
{
    QString cut = name;
    while (UpdateFolder::NameBytes(cut) > limit) {
        cut.chop(1);
        if (!cut.isEmpty() && cut.back().isHighSurrogate())
            cut.chop(1);
    }
    return cut;
}

// Windows' device names, which open the device whatever extension follows them ("NUL.txt", "con .exe"):
// the digits include the superscripts 1, 2 and 3, which Windows counts as digits there.
bool isReservedName(const QString &name)
{
    const QString stem = name.left(name.indexOf(QLatin1Char('.'))).trimmed().toUpper();
    static const QStringList devices = {QStringLiteral("CON"), QStringLiteral("PRN"),    QStringLiteral("AUX"),
                                        QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (devices.contains(stem))
        return true;
    const QString digits = QStringLiteral("0123456789\u00B9\u00B2\u00B3");
    return stem.size() == 4 && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
           digits.contains(stem.back());
}

bool isWebAddress(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Statuses that say "not now" rather than "not here": the same address is asked again.
bool isPassing(int status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// Network errors that another try at the same address may well get past; the rest (TLS, redirects,
// names that do not resolve, protocol errors) send the download to the next address.
bool isTransient(QNetworkReply::NetworkError error)
{
    // NoError: a cut, a stall or a short body, the driver's own failures.
    return error == QNetworkReply::NoError || NetworkError::isTransient(error);
}

// The host's access manager for packages, made on first use and never deleted, as the module's is:
// requests borrow it, and Qt's network thread may still close a connection of an aborted reply
// after its download has gone. Default proxy, TLS configuration and redirect policy: what the
// module's manager has.
QNetworkAccessManager *packageManager()
{
    static QNetworkAccessManager *manager = [] {
        auto *made = new QNetworkAccessManager;
        made->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        return made;
    }();
    return manager;
}

} // namespace

// Writes the body to the file and hashes it on the way, so the digest is ready when the last byte
// is and the file is never read back for it.
class UpdateDownload::HashingSink : public QIODevice
{
public:
    HashingSink(QIODevice *file, Sha256 *hash) : m_file(file), m_hash(hash)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool failed() const noexcept { return m_failed; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        QString error;
        if (!RegularFile::WriteAll(*m_file, data, size, &error)) {
            m_failed = true;
            setErrorString(error);
            return -1;
        }
        m_hash->addData(data, static_cast<qsizetype>(size));
        return size;
    }

private:
    QIODevice *m_file;
    Sha256 *m_hash;
    bool m_failed = false;
};

UpdateDownload::UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                               QObject *parent)
    : QObject(parent), m_url(url), m_folder(folder), m_expectedSize(size), m_expectedDigest(sha256),
      m_hash(std::make_unique<Sha256>())
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        stopAttempt();
        QString reason =
            QStringLiteral("the download took longer than its limit of %1 s in all").arg(m_deadlineMs / 1000.0);
        if (resumable() && !m_validator.isEmpty() && m_offset > 0)
            reason += QStringLiteral("; the %1 fetched are kept, and the next download continues from there")
                          .arg(bytesText(m_offset));
        finish(reason);
    });
    m_waitTimer.setSingleShot(true);
    connect(&m_waitTimer, &QTimer::timeout, this, &UpdateDownload::beginAttempt);
}

UpdateDownload::~UpdateDownload()
{
    stopAttempt();
    if (m_private)
        releaseFiles();
}

bool UpdateDownload::start()
{
    m_error.clear();
    if (m_running) {
        m_error = QStringLiteral("the download is already running");
        return false;
    }
    if (!ItemDownloader::HasNetworkManager()) {
        m_error = QStringLiteral("no network access manager is installed");
        return false;
    }
    m_addresses = QStringList(m_url) + m_mirrors;
    for (const QString &address : std::as_const(m_addresses)) {
        if (!isWebAddress(address)) {
            m_error = QStringLiteral("\"%1\" is not an http or https address").arg(UpdateDescription::Cut(address));
            return false;
        }
    }
    if (!QFileInfo(m_folder).isDir()) {
        m_error = QStringLiteral("the folder \"%1\" does not exist").arg(m_folder);
        return false;
    }
    m_private = UpdateFolder::Open(m_folder, &m_error);
    if (!m_private)
        return false;
    // Refused before a byte is fetched.
    m_error = m_private->placingError(SafeFileName(m_url));
    if (!m_error.isEmpty() || !openPartial(&m_error)) {
        m_file.reset();
        m_lock.reset();
        m_private.reset();
        return false;
    }
    m_running = true;
    m_attempts = 0;
    m_attemptsHere = 0;
    m_addressIndex = 0;
    m_fetched = 0;
    m_freshRetryDone = false;
    m_digest.clear();
    m_deadline.start(m_deadlineMs);
    m_deadlineLeft = QDeadlineTimer(m_deadlineMs);
    QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
    return true;
}

// The partial file of this package, locked, with what an earlier run left in it when that can be
// continued; otherwise empty. Without a size and SHA-256 there is nothing to tie it to, and a
// fresh temporary file takes its place.
bool UpdateDownload::openPartial(QString *error)
{
    (void)m_hash->result();
    m_offset = 0;
    m_resumedFrom = 0;
    m_assembled = false;
    m_validator.clear();
    if (!resumable()) {
        m_validatorName.clear();
        m_file = m_private->createTemporary(&m_fileName, error);
        return m_file != nullptr;
    }
    const QString stem =
        QStringLiteral(".partial-%1-%2").arg(QString::fromLatin1(m_expectedDigest.toHex())).arg(m_expectedSize);
    m_fileName = stem;
    m_validatorName = stem + QStringLiteral(".validator");
    m_lock = std::make_unique<FileLock>();
    QString lockError;
    if (!m_lock->lock(QDir(m_private->path()).filePath(stem + QStringLiteral(".lock")), 0, &lockError)) {
        *error = QStringLiteral("another download of this package into %1 is running (%2)")
                     .arg(QDir::toNativeSeparators(m_private->path()), lockError);
        return false;
    }
    m_file = m_private->openKept(m_fileName, error);
    if (!m_file)
        return false;
    {
        // Closed again at once: on Windows a kept file is open to one handle at a time.
        const std::unique_ptr<QFile> validator = m_private->openKept(m_validatorName, error);
        if (!validator)
            return false;
        if (validator->size() <= kMaxValidatorBytes)
            m_validator = validator->readAll().trimmed();
        if (!HttpResume::IsValidator(m_validator))
            m_validator.clear();
    }
    const qint64 kept = m_file->size();
    // What was kept is believed in nothing: only its bytes, hashed again, are carried on.
    qint64 hashed = 0;
    if (!m_validator.isEmpty() && kept > 0 && kept <= m_expectedSize) {
        QByteArray piece;
        while (hashed < kept && !(piece = m_file->read(kHashPiece)).isEmpty()) {
            m_hash->addData(piece);
            hashed += piece.size();
        }
    }
    if (hashed == kept && hashed > 0) {
        m_offset = kept;
        m_resumedFrom = kept;
        m_assembled = true;
        return m_file->seek(kept);
    }
    return restartFile(error);
}

// Empties the file and the digest: what follows is the package from its first byte.
bool UpdateDownload::restartFile(QString *error)
{
    // Reset in place: the sink of a running response hashes into it.
    (void)m_hash->result();
    m_offset = 0;
    m_assembled = false;
    saveValidator(QByteArray());
    if (m_file->resize(0) && m_file->seek(0))
        return true;
    *error = QStringLiteral("cannot empty the partial file in %1: %2").arg(m_private->path(), m_file->errorString());
    return false;
}

void UpdateDownload::saveValidator(const QByteArray &validator)
{
    m_validator = validator;
    if (m_validatorName.isEmpty())
        return;
    QString error;
    const std::unique_ptr<QFile> file = m_private->openKept(m_validatorName, &error);
    // A validator that cannot be kept only costs the next run its head start.
    if (file && file->resize(0) && RegularFile::WriteAll(*file, validator, &error))
        RegularFile::FlushAll(*file, &error);
}

void UpdateDownload::beginAttempt()
{
    if (!m_running)
        return;
    // A partial file that is whole already needs no request: only the check of its digest.
    if (resumable() && m_offset == m_expectedSize)
        return complete();
    ++m_attempts;
    ++m_attemptsHere;
    m_headSeen = false;
    m_rangeRefused = false;
    m_tooLarge = false;
    m_sink = std::make_unique<HashingSink>(m_file.get(), m_hash.get());

    QNetworkRequest request(QUrl(currentAddress(), QUrl::StrictMode));
    // Bytes as they are stored: a coded body has other offsets than the file.
    request.setRawHeader("Accept-Encoding", "identity");
    if (m_offset > 0 && !m_validator.isEmpty()) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_offset) + '-');
        request.setRawHeader("If-Range", m_validator);
    }
    auto *packageRequest = new PackageRequest(packageManager(), request);
    m_request = packageRequest;
    m_driver = std::make_unique<RequestDriver>(packageRequest);
    RequestDriver *driver = m_driver.get();
    driver->setSink(m_sink.get());
    // Stops the transfer at the first byte past the size, announced or not.
    driver->setBodyLimit(m_expectedSize >= 0 ? m_expectedSize - m_offset : -1);
    driver->setStallTimeout(TimeSpan::FromMilliseconds(m_stallMs));
    connect(packageRequest, &NetworkRequest::metaDataChangedSignal, this, &UpdateDownload::responseHead);
    connect(driver, &RequestDriver::downloadProgressSignal, this, [this, driver](qint64, qint64 total) {
        // The announced length already says that the body is too large.
        if (m_expectedSize >= 0 && total > m_expectedSize - m_offset) {
            m_tooLarge = true;
            return driver->abort(String("the body is larger than ") + String(bytesText(m_expectedSize).toStdString()) +
                                 ": the server announced " + String(std::to_string(m_offset + total)));
        }
        Q_EMIT progressSignal(m_offset + driver->bytesReceived(), m_expectedSize >= 0 ? m_expectedSize : total);
    });
    connect(driver, &RequestDriver::failedSignal, this,
            [this](StringView reason) { attemptFailed(StringStream<QString>::fromString(reason)); });
    connect(driver, &RequestDriver::finishedSignal, this, &UpdateDownload::attemptFinished);
    driver->start();
}

// The head of a response, before any of its body: whether it continues the file or replaces it.
void UpdateDownload::responseHead()
{
    const int status = m_request ? m_request->statusCode() : 0;
    if (m_headSeen || !m_driver || status < 200 || status >= 300)
        return;
    m_headSeen = true;
    const QByteArray contentRange = m_request->header("Content-Range");
    if (status == 206) {
        if (m_offset > 0 && resumable() && HttpResume::RangeFits(contentRange, m_offset, m_expectedSize)) {
            m_assembled = true;
            return;
        }
        m_rangeRefused = true;
        return m_driver->abort(String("the server's range \"") +
                               String(UpdateDescription::Cut(QString::fromLatin1(contentRange)).toStdString()) +
                               "\" is not the rest of the package from byte " + String(std::to_string(m_offset)));
    }
    // A whole body: the range was ignored, or the file changed since the validator was taken.
    QString error;
    if (m_offset > 0 && !restartFile(&error)) {
        m_sink.reset();
        return m_driver->abort(StringStream<QString>::toString(error));
    }
    m_driver->setBodyLimit(m_expectedSize);
    if (resumable())
        saveValidator(HttpResume::IfRangeValidator(m_request->header("ETag"), m_request->header("Last-Modified"),
                                                   m_request->header("Date")));
}

// Flushes the file and takes what came in into account; false with *error when the disk refused it.
bool UpdateDownload::endTransfer(QString *error)
{
    const bool written = RegularFile::FlushAll(*m_file, error);
    m_fetched += m_driver->bytesReceived();
    m_offset = written ? m_file->pos() : m_offset;
    return written;
}

void UpdateDownload::attemptFailed(const QString &reason)
{
    // The driver's size stop: the response held more than the rest of the package.
    m_tooLarge |= m_expectedSize >= 0 && m_offset + m_driver->bytesReceived() > m_expectedSize;
    QString writeError;
    const bool written = endTransfer(&writeError);
    const int status = m_request->statusCode();
    const QNetworkReply::NetworkError networkError = m_request->networkError();
    const QByteArray retryAfter = m_request->header("Retry-After");
    const bool sinkFailed = m_sink->failed();
    m_driver.reset();
    m_request = nullptr;
    m_sink.reset();
    if (!written || sinkFailed)
        return finish(QStringLiteral("cannot write the package: %1").arg(written ? reason : writeError));
    // More than the package has is not the package, wherever it came from.
    QString error;
    if (m_tooLarge) {
        restartFile(&error);
        return finish(reason);
    }
    // Range Not Satisfiable: what is kept does not belong to what the server has.
    m_rangeRefused |= status == 416;
    if (m_rangeRefused && !restartFile(&error))
        return finish(error);
    Next next = Next::Retry;
    qint64 waitMs = -1;
    if (status >= 400) {
        next = isPassing(status) || status == 416 ? Next::Retry : Next::NextAddress;
        if (status == 429 || status == 503)
            waitMs = HttpResume::RetryAfterMs(retryAfter, QDateTime::currentDateTimeUtc());
    } else if (!m_rangeRefused && !isTransient(networkError)) {
        next = Next::NextAddress;
    }
    retry(reason, next, waitMs);
}

void UpdateDownload::attemptFinished()
{
    QString writeError;
    const bool written = endTransfer(&writeError);
    m_driver.reset();
    m_request = nullptr;
    m_sink.reset();
    if (!written)
        return finish(QStringLiteral("cannot write the package: %1").arg(writeError));
    if (m_expectedSize >= 0 && m_offset < m_expectedSize)
        return retry(
            QStringLiteral("the transfer ended after %1 of %2").arg(bytesText(m_offset), bytesText(m_expectedSize)),
            Next::Retry, -1);
    complete();
}

void UpdateDownload::retry(const QString &error, Next next, qint64 retryAfterMs)
{
    // Bytes that no validator vouches for are not carried into another response.
    QString restartError;
    if (m_offset > 0 && (!resumable() || m_validator.isEmpty()) && !restartFile(&restartError))
        return finish(restartError);
    if (next == Next::Retry && m_attemptsHere > m_retries)
        next = Next::NextAddress;
    if (next == Next::NextAddress && m_addressIndex + 1 < m_addresses.size()) {
        ++m_addressIndex;
        m_attemptsHere = 0;
        QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
        return;
    }
    if (next != Next::Retry) {
        const bool several = m_attempts > 1;
        return finish(several ? QStringLiteral("%1 (after %2 attempts)").arg(error).arg(m_attempts) : error);
    }
    const qint64 planned = retryAfterMs >= 0
                               ? retryAfterMs
                               : HttpResume::BackoffMs(m_attemptsHere, QRandomGenerator::global()->generate());
    if (planned >= m_deadlineLeft.remainingTime()) {
        if (retryAfterMs < 0)
            return finish(QStringLiteral("%1 (after %2 attempts; the next would come after the download's limit)")
                              .arg(error)
                              .arg(m_attempts));
        const QDateTime when = QDateTime::currentDateTimeUtc().addMSecs(retryAfterMs);
        return finish(QStringLiteral("%1: the server asks to be tried again at %2, after the download's limit of "
                                     "%3 s: try again then")
                          .arg(error, UpdateDescription::TimeText(when))
                          .arg(m_deadlineMs / 1000.0));
    }
    const int waitMs = m_wait ? m_wait(int(planned)) : int(planned);
    m_waitTimer.start(qMax(0, waitMs));
}

// The file holds as many bytes as the package has: its digest decides.
void UpdateDownload::complete()
{
    const QByteArray digest = m_hash->result();
    QString failure;
    if (m_expectedSize >= 0 && m_offset != m_expectedSize)
        failure = QStringLiteral("the package has %1, the description gives %2")
                      .arg(bytesText(m_offset), bytesText(m_expectedSize));
    else if (!m_expectedDigest.isEmpty() && digest != m_expectedDigest) {
        // Pieces of two files, or a planted partial file: once more from the first byte.
        if (m_assembled && !m_freshRetryDone) {
            m_freshRetryDone = true;
            if (!restartFile(&failure))
                return finish(failure);
            QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
            return;
        }
        failure = QStringLiteral("the package's SHA-256 %1 differs from the description's %2")
                      .arg(QString::fromLatin1(digest.toHex()), QString::fromLatin1(m_expectedDigest.toHex()));
    }
    if (!failure.isEmpty()) {
        restartFile(&failure);
        return finish(failure);
    }
    m_size = m_offset;
    // Closed before it is held: a program still open for writing cannot be started.
    m_file.reset();
    const QString name = m_private->publish(m_fileName, SafeFileName(m_url), &failure);
    if (name.isEmpty())
        return finish(failure);
    if (!m_validatorName.isEmpty())
        m_private->remove(m_validatorName);
    if (!m_private->hold(name, &failure)) {
        m_private->remove(name);
        return finish(failure);
    }
    m_digest = digest;
    finish(QString());
}

void UpdateDownload::cancel()
{
    stopAttempt();
    m_deadline.stop();
    m_running = false;
    releaseFiles();
    m_private.reset();
}

void UpdateDownload::stopAttempt()
{
    m_waitTimer.stop();
    if (!m_driver)
        return;
    QString ignored;
    endTransfer(&ignored);
    m_driver.reset();
    m_request = nullptr;
    m_sink.reset();
}

// Closes the partial file, keeping it only when a later download can continue it, and lets go of
// the lock.
void UpdateDownload::releaseFiles()
{
    if (m_file) {
        const bool keep = resumable() && !m_validator.isEmpty() && m_offset > 0;
        m_file.reset();
        if (!keep) {
            m_private->remove(m_fileName);
            if (!m_validatorName.isEmpty())
                m_private->remove(m_validatorName);
        }
    }
    m_lock.reset();
}

void UpdateDownload::finish(const QString &error)
{
    stopAttempt();
    m_deadline.stop();
    m_running = false;
    m_error = error;
    releaseFiles();
    if (!error.isEmpty())
        m_private.reset();
    // The last act: a receiver may delete this download.
    Q_EMIT finishedSignal(error.isEmpty());
}

QString UpdateDownload::filePath() const
{
    return m_private ? m_private->heldPath() : QString();
}

std::unique_ptr<UpdateFolder> UpdateDownload::takeFolder()
{
    return std::move(m_private);
}

QString UpdateDownload::SafeFileName(const QString &url)
{
    const QString path = QUrl(url).path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name.remove(QLatin1Char('\\'));
    name.removeIf(
        // Format characters included: a right-to-left override can make "exe.txt" read as "txt.exe".
        [](QChar c) { return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format; });
    for (QChar &c : name)
        if (QStringLiteral("<>:\"|?*").contains(c))
            c = QLatin1Char('_');
    while (!name.isEmpty() && (name.front() == QLatin1Char('.') || name.front().isSpace()))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == QLatin1Char('.') || name.back().isSpace()))
        name.chop(1);
    if (UpdateFolder::NameBytes(name) > kMaxNameBytes) {
        // The extension says what the package is: it is kept when it is short.
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
        name = cutName(name.left(name.size() - extension.size()), kMaxNameBytes - UpdateFolder::NameBytes(extension)) +
               extension;
    }
    if (isReservedName(name))
        name.prepend(QLatin1Char('_'));
    return name.isEmpty() ? QStringLiteral("update-package") : name;
}

} // namespace ORVIK
