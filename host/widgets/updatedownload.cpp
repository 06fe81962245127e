#include "host/widgets/updatedownload.h"

#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/requestdriver.h"
#include "host/widgets/sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QTemporaryFile>
#include <QUrl>

#include <cstdio>
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
        const qint64 written = m_file->write(data, size);
        if (written != size) {
            setErrorString(m_file->errorString());
            return -1;
        }
        m_hash.addData(data, static_cast<qsizetype>(size));
        return written;
    }

private:
    QIODevice *m_file;
    Sha256 m_hash;
};

UpdateDownload::UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                               QObject *parent)
    : QObject(parent), m_url(url), m_folder(folder), m_expectedSize(size), m_expectedDigest(sha256)
{}

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
    const QFileInfo folder(m_folder);
    if (!folder.isDir() || !folder.isWritable()) {
        m_error = QStringLiteral("the folder \"%1\" does not exist or cannot be written").arg(m_folder);
        return false;
    }
    m_running = true;
    m_attempts = 0;
    m_path.clear();
    m_digest.clear();
    QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
    return true;
}

void UpdateDownload::beginAttempt()
{
    if (!m_running)
        return;
    ++m_attempts;
    m_received = 0;
    // A hidden name that the final, safe name can never take.
    m_file = std::make_unique<QTemporaryFile>(QDir(m_folder).filePath(QStringLiteral(".orvik-update-XXXXXX.part")));
    if (!m_file->open()) {
        finish(QStringLiteral("cannot create a temporary file in \"%1\": %2").arg(m_folder, m_file->errorString()));
        return;
    }
    m_sink = std::make_unique<HashingSink>(m_file.get());

    NetworkRequestSettings settings;
    settings.url = StringStream<QString>::toString(m_url);
    m_driver = std::make_unique<RequestDriver>(ItemDownloader::AccessManager()->createDownloadRequest(settings));
    RequestDriver *driver = m_driver.get();
    driver->setSink(m_sink.get());
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
    connect(driver, &RequestDriver::failedSignal, this, [this](StringView reason) {
        const QString error = StringStream<QString>::fromString(reason);
        endAttempt(error, isInterruption(error));
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
    m_running = false;
}

void UpdateDownload::stopAttempt()
{
    m_driver.reset();
    m_sink.reset();
    m_file.reset();
}

void UpdateDownload::endAttempt(const QString &error, bool retriable)
{
    if (!m_driver)
        return;
    const bool written = m_file->flush();
    const QByteArray digest = m_sink->digest();
    // Detached from the request, the file stays until it is verified and moved, or dropped.
    std::unique_ptr<QTemporaryFile> file = std::move(m_file);
    stopAttempt();
    if (!error.isEmpty()) {
        file.reset();
        if (retriable && m_attempts <= m_retries) {
            QMetaObject::invokeMethod(this, &UpdateDownload::beginAttempt, Qt::QueuedConnection);
            return;
        }
        finish(retriable && m_attempts > 1 ? QStringLiteral("%1 (after %2 attempts)").arg(error).arg(m_attempts)
                                           : error);
        return;
    }
    if (!written)
        return finish(QStringLiteral("cannot write \"%1\": %2").arg(file->fileName(), file->errorString()));
    if (m_expectedSize >= 0 && m_received != m_expectedSize)
        return finish(QStringLiteral("the package has %1, the description gives %2")
                          .arg(bytesText(m_received), bytesText(m_expectedSize)));
    if (!m_expectedDigest.isEmpty() && digest != m_expectedDigest)
        return finish(QStringLiteral("the package's SHA-256 %1 differs from the description's %2")
                          .arg(QString::fromLatin1(digest.toHex()), QString::fromLatin1(m_expectedDigest.toHex())));

    const QString target = QDir(m_folder).absoluteFilePath(SafeFileName(m_url));
    file->close();
    // rename() replaces an older file of that name in one step, so no half file ever carries it.
    if (std::rename(QFile::encodeName(file->fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return finish(QStringLiteral("cannot move the package to \"%1\"").arg(target));
    file->setAutoRemove(false);
    m_path = target;
    m_digest = digest;
    finish(QString());
}

void UpdateDownload::finish(const QString &error)
{
    stopAttempt();
    m_running = false;
    m_error = error;
    // The last act: a receiver may delete this download.
    Q_EMIT finishedSignal(error.isEmpty());
}

QString UpdateDownload::SafeFileName(const QString &url)
{
    const QString path = QUrl(url).path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name.remove(QLatin1Char('\\'));
    name.removeIf(
        // Format characters included: a right-to-left override can make "exe.txt" read as "txt.exe".
        [](QChar c) { return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format; });
    while (!name.isEmpty() && (name.front() == QLatin1Char('.') || name.front().isSpace()))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == QLatin1Char('.') || name.back().isSpace()))
        name.chop(1);
    name.truncate(200);
    return name.isEmpty() ? QStringLiteral("update-package") : name;
}

} // namespace ORVIK
