#include "host/widgets/updatedownload.h"

#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/regularfile.h"
#include "host/widgets/requestdriver.h"
#include "host/widgets/sha256.h"
#include "host/widgets/updatefolder.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QUrl>

#include <string>

namespace ORVIK {

namespace {

// The access manager's texts for a connection that the network ended before the body did.
bool isInterruption(const QString &error)
{
    return error == QLatin1String("Remote Host Closed") || error == QLatin1String("Connection Closed") ||
           error == QLatin1String("Temporary Failure");
}

QString bytesText(qint64 bytes)
{
    return QStringLiteral("%1 bytes").arg(bytes);
}

// Bytes of the name in the file system's encoding: UTF-16 units on Windows, bytes elsewhere.
qsizetype nameBytes(const QString &name)
{
#ifdef Q_OS_WIN
    return name.size();
#else
    return QFile::encodeName(name).size();
#endif
}

// The name cut to at most `limit` bytes, never inside a character (a surrogate pair is one).
QString cutName(const QString &name, qsizetype limit)
{
    QString cut = name;
    while (nameBytes(cut) > limit) {
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

} // namespace

// Writes the body to the temporary file and hashes it on the way, so the digest is ready when the
// last byte is and the file is never read back for it.
class UpdateDownload::HashingSink : public QIODevice
{
public:
    explicit HashingSink(QIODevice *file) : m_file(file) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    QByteArray digest() { return m_hash.result(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        QString error;
        if (!RegularFile::WriteAll(*m_file, data, size, &error)) {
            setErrorString(error);
            return -1;
        }
        m_hash.addData(data, static_cast<qsizetype>(size));
        return size;
    }

private:
    QIODevice *m_file;
    Sha256 m_hash;
};

UpdateDownload::UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                               QObject *parent)
    : QObject(parent), m_url(url), m_folder(folder), m_expectedSize(size), m_expectedDigest(sha256)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        stopAttempt();
        finish(QStringLiteral("the download took longer than its limit of %1 s in all").arg(m_deadlineMs / 1000.0));
    });
}

UpdateDownload::~UpdateDownload()
{
    stopAttempt();
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
    const QUrl url(m_url, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        m_error = QStringLiteral("\"%1\" is not an http or https address").arg(m_url);
        return false;
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
    if (!m_error.isEmpty()) {
        m_private.reset();
        return false;
    }
    m_running = true;
    m_attempts = 0;
    m_digest.clear();
    m_deadline.start(m_deadlineMs);
    QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
    return true;
}

void UpdateDownload::beginAttempt()
{
    if (!m_running)
        return;
    ++m_attempts;
    m_received = 0;
    QString error;
    m_file = m_private->createTemporary(&m_fileName, &error);
    if (!m_file) {
        finish(error);
        return;
    }
    m_sink = std::make_unique<HashingSink>(m_file.get());

    NetworkRequestSettings settings;
    settings.url = StringStream<QString>::toString(m_url);
    m_driver = std::make_unique<RequestDriver>(ItemDownloader::AccessManager()->createDownloadRequest(settings));
    RequestDriver *driver = m_driver.get();
    driver->setSink(m_sink.get());
    // Stops the transfer at the first byte past the expected size, announced or not.
    driver->setBodyLimit(m_expectedSize);
    driver->setStallTimeout(TimeSpan::FromMilliseconds(m_stallMs));
    connect(driver, &RequestDriver::downloadProgressSignal, this, [this, driver](qint64, qint64 total) {
        m_received = driver->bytesReceived();
        // The announced length already says that the body is too large.
        if (m_expectedSize >= 0 && total > m_expectedSize)
            return driver->abort(String("the body is larger than ") + String(bytesText(m_expectedSize).toStdString()) +
                                 ": the server announced " + String(std::to_string(total)));
        Q_EMIT progressSignal(m_received, m_expectedSize >= 0 ? m_expectedSize : total);
    });
    connect(driver, &RequestDriver::failedSignal, this, [this, driver](StringView reason) {
        m_received = driver->bytesReceived();
        const QString error = StringStream<QString>::fromString(reason);
        endAttempt(error, isInterruption(error) || driver->failedCutShort());
    });
    connect(driver, &RequestDriver::finishedSignal, this, [this, driver] {
        m_received = driver->bytesReceived();
        if (m_expectedSize >= 0 && m_received < m_expectedSize)
            return endAttempt(QStringLiteral("the transfer ended after %1 of %2")
                                  .arg(bytesText(m_received), bytesText(m_expectedSize)),
                              true);
        endAttempt(QString(), false);
    });
    driver->start();
}

void UpdateDownload::cancel()
{
    stopAttempt();
    m_deadline.stop();
    m_running = false;
    m_private.reset();
}

void UpdateDownload::stopAttempt()
{
    m_driver.reset();
    m_sink.reset();
    dropFile();
}

void UpdateDownload::dropFile()
{
    if (!m_file)
        return;
    m_file.reset();
    m_private->remove(m_fileName);
}

void UpdateDownload::endAttempt(const QString &error, bool retriable)
{
    if (!m_driver)
        return;
    // The last bytes may still be in the file's buffer: a full disk shows only here.
    QString writeError;
    const bool written = RegularFile::FlushAll(*m_file, &writeError);
    const QByteArray digest = m_sink->digest();
    m_driver.reset();
    m_sink.reset();
    if (!error.isEmpty()) {
        dropFile();
        if (retriable && m_attempts <= m_retries) {
            QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
            return;
        }
        finish(retriable && m_attempts > 1 ? QStringLiteral("%1 (after %2 attempts)").arg(error).arg(m_attempts)
                                           : error);
        return;
    }
    QString failure;
    if (!written)
        failure = QStringLiteral("cannot write the package: %1").arg(writeError);
    else if (m_expectedSize >= 0 && m_received != m_expectedSize)
        failure = QStringLiteral("the package has %1, the description gives %2")
                      .arg(bytesText(m_received), bytesText(m_expectedSize));
    else if (!m_expectedDigest.isEmpty() && digest != m_expectedDigest)
        failure = QStringLiteral("the package's SHA-256 %1 differs from the description's %2")
                      .arg(QString::fromLatin1(digest.toHex()), QString::fromLatin1(m_expectedDigest.toHex()));
    if (!failure.isEmpty()) {
        dropFile();
        return finish(failure);
    }
    // Closed before it is held: a program still open for writing cannot be started.
    m_file.reset();
    const QString name = m_private->publish(m_fileName, SafeFileName(m_url), &failure);
    if (name.isEmpty()) {
        m_private->remove(m_fileName);
        return finish(failure);
    }
    if (!m_private->hold(name, &failure)) {
        m_private->remove(name);
        return finish(failure);
    }
    m_digest = digest;
    finish(QString());
}

void UpdateDownload::finish(const QString &error)
{
    stopAttempt();
    m_deadline.stop();
    m_running = false;
    m_error = error;
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
    if (nameBytes(name) > kMaxNameBytes) {
        // The extension says what the package is: it is kept when it is short.
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
        name = cutName(name.left(name.size() - extension.size()), kMaxNameBytes - nameBytes(extension)) + extension;
    }
    if (isReservedName(name))
        name.prepend(QLatin1Char('_'));
    return name.isEmpty() ? QStringLiteral("update-package") : name;
}

} // namespace ORVIK
