#include "host/widgets/itemdownloader.h"

#include "host/base/exception.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <string>

#include <map>

namespace ORVIK {

namespace {

NetworkAccessManager *&installedManager()
{
    static NetworkAccessManager *manager = nullptr;
    return manager;
}

// Downloaders are children of the application object; the registry only finds them.
std::map<String, QPointer<ItemDownloader>> &downloaders()
{
    static std::map<String, QPointer<ItemDownloader>> registry;
    return registry;
}

} // namespace

void ItemDownloader::DeleteLater::operator()(QObject *object) const
{
    object->deleteLater();
}

void ItemDownloader::SetAccessManager(NetworkAccessManager *manager)
{
    // An earlier manager is left alive: requests that it created may still be running.
    installedManager() = manager;
}

NetworkAccessManager *ItemDownloader::AccessManager()
{
    return installedManager();
}

bool ItemDownloader::HasNetworkManager()
{
    return installedManager() != nullptr;
}

ItemDownloader *ItemDownloader::GetItemDownloader(const StringView &url)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!HasNetworkManager() || url.isEmpty() || !app)
        return nullptr;
    QPointer<ItemDownloader> &slot = downloaders()[String(url)];
    if (!slot)
        slot = new ItemDownloader(url, app);
    return slot;
}

ItemDownloader::ItemDownloader(const StringView &url, QObject *parent) : QObject(parent), m_url(url)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        fail(String("Download timed out after ") + String(std::to_string(m_timeout.interval()) + " ms"));
    });
}

ItemDownloader::~ItemDownloader() = default;

void ItemDownloader::start(TimeSpan timeout)
{
    if (m_request)
        fail("Download abandoned by a new start");

    NetworkAccessManager *manager = installedManager();
    if (!manager) {
        fail("No network access manager is installed");
        return;
    }
    NetworkRequestSettings settings;
    settings.url = m_url;
    m_request.reset(manager->createDownloadRequest(settings));
    m_data.clear();
    m_error = String();
    m_hasError = false;

    NetworkRequest *request = m_request.get();
    connect(request, &NetworkRequest::downloadProgressSignal, this, [this](qint64 received, qint64 total) {
        readArrived();
        Q_EMIT downloadProgressSignal(received, total);
    });
    connect(request, &NetworkRequest::errorOccurredSignal, this, [this](StringView message) {
        m_hasError = true;
        m_error = String(message);
    });
    connect(request, &NetworkRequest::finishedSignal, this, &ItemDownloader::finish);

    // A span of zero or less sets no time-out.
    const int64_t ms = timeout.milliseconds();
    if (ms > 0)
        m_timeout.start(static_cast<int>(std::min<int64_t>(ms, INT32_MAX)));
    try {
        request->start();
    } catch (const Exception &error) {
        fail(error.message());
    }
}

void ItemDownloader::readArrived()
{
    if (m_request)
        m_data += m_request->readAll();
}

void ItemDownloader::finish()
{
    if (!m_request)
        return;
    readArrived();
    if (m_hasError) {
        fail(m_error.isEmpty() ? String("Download failed") : m_error);
        return;
    }
    endTransfer();
    Q_EMIT downloadedSignal();
}

void ItemDownloader::fail(const String &message)
{
    // Detached before it is closed: closing makes the transfer report a cancellation and finish at
    // once, which must not reach this downloader as a second outcome.
    m_timeout.stop();
    if (m_request) {
        m_request->disconnect(this);
        const std::unique_ptr<NetworkRequest, DeleteLater> abandoned = std::move(m_request);
        abandoned->close();
    }
    m_data.clear();
    // The view must outlive the signal's receivers, so it points at a member.
    m_error = message;
    Q_EMIT downloadFailedSignal(m_error);
}

void ItemDownloader::endTransfer()
{
    m_timeout.stop();
    if (m_request) {
        m_request->disconnect(this);
        m_request.reset();
    }
}

} // namespace ORVIK
