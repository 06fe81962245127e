#include "host/widgets/updatedownload.h"

#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>

#include <cstdio>

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

void UpdateDownload::DeleteLater::operator()(QObject *object) const
{
    object->deleteLater();
}

UpdateDownload::UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                               QObject *parent)
    : QObject(parent), m_url(url), m_folder(folder), m_expectedSize(size), m_expectedDigest(sha256)
{
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this,
            [this] { endAttempt(QStringLiteral("no data arrived for %1 s").arg(m_stallMs / 1000.0), false); });
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
    m_requestError.clear();
    m_hash.result();
    // A hidden name that the final, safe name can never take.
    m_file = std::make_unique<QTemporaryFile>(QDir(m_folder).filePath(QStringLiteral(".orvik-update-XXXXXX.part")));
    if (!m_file->open()) {
        finish(QStringLiteral("cannot create a temporary file in \"%1\": %2").arg(m_folder, m_file->errorString()));
        return;
    }

    NetworkRequestSettings settings;
    settings.url = StringStream<QString>::toString(m_url);
    m_request.reset(ItemDownloader::AccessManager()->createDownloadRequest(settings));
    NetworkRequest *request = m_request.get();
    connect(request, &NetworkRequest::downloadProgressSignal, this, [this](qint64, qint64 total) {
        m_stall.start(m_stallMs);
        if (m_expectedSize >= 0 && total > m_expectedSize)
            return endAttempt(QStringLiteral("the server announced %1, more than the %2 that the description gives")
                                  .arg(bytesText(total), bytesText(m_expectedSize)),
                              false);
        drain();
        if (!m_request)
            return;
        Q_EMIT progressSignal(m_received, m_expectedSize >= 0 ? m_expectedSize : total);
    });
    connect(request, &NetworkRequest::metaDataChangedSignal, this, [this] { m_stall.start(m_stallMs); });
    connect(request, &NetworkRequest::errorOccurredSignal, this, [this](StringView text) {
        // The first reason is the one that counts.
        if (m_requestError.isEmpty())
            m_requestError = StringStream<QString>::fromString(text);
        if (m_requestError.isEmpty())
            m_requestError = QStringLiteral("the transfer failed");
    });
    connect(request, &NetworkRequest::finishedSignal, this, [this] {
        drain();
        if (!m_request)
            return;
        if (!m_requestError.isEmpty())
            return endAttempt(m_requestError, isInterruption(m_requestError));
        if (m_expectedSize >= 0 && m_received < m_expectedSize)
            return endAttempt(QStringLiteral("the transfer ended after %1 of %2")
                                  .arg(bytesText(m_received), bytesText(m_expectedSize)),
                              true);
        endAttempt(QString(), false);
    });

    m_stall.start(m_stallMs);
    try {
        request->start();
    } catch (const Exception &exception) {
        if (m_request.get() == request)
            endAttempt(StringStream<QString>::fromString(exception.message()), false);
    }
}

void UpdateDownload::drain()
{
    if (!m_request)
        return;
    const QByteArray bytes = m_request->readAll();
    if (bytes.isEmpty())
        return;
    if (m_expectedSize >= 0 && m_received + bytes.size() > m_expectedSize)
        return endAttempt(QStringLiteral("the server sent more than the %1 that the description gives")
                              .arg(bytesText(m_expectedSize)),
                          false);
    if (m_file->write(bytes) != bytes.size())
        return endAttempt(QStringLiteral("cannot write \"%1\": %2").arg(m_file->fileName(), m_file->errorString()),
                          false);
    m_hash.addData(bytes);
    m_received += bytes.size();
}

void UpdateDownload::stopAttempt()
{
    m_stall.stop();
    if (m_request) {
        // Detached before it is closed: a closed request reports a cancellation of its own.
        m_request->disconnect(this);
        const std::unique_ptr<NetworkRequest, DeleteLater> abandoned = std::move(m_request);
        abandoned->close();
    }
    m_file.reset();
}

void UpdateDownload::endAttempt(const QString &error, bool retriable)
{
    if (!m_request)
        return;
    const bool written = m_file->flush();
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
    const QByteArray digest = m_hash.result();
    if (m_expectedSize >= 0 && m_received != m_expectedSize)
        return finish(QStringLiteral("the package has %1, the description gives %2")
                          .arg(bytesText(m_received), bytesText(m_expectedSize)));
    if (!m_expectedDigest.isEmpty() && digest != m_expectedDigest)
        return finish(QStringLiteral("the package's SHA-256 %1 differs from the description's %2")
                          .arg(QString::fromLatin1(digest.toHex()), QString::fromLatin1(m_expectedDigest.toHex())));

    const QString target = QDir(m_folder).filePath(SafeFileName(m_url));
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
        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control; });
    while (!name.isEmpty() && (name.front() == QLatin1Char('.') || name.front().isSpace()))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == QLatin1Char('.') || name.back().isSpace()))
        name.chop(1);
    name.truncate(200);
    return name.isEmpty() ? QStringLiteral("update-package") : name;
}

} // namespace ORVIK
