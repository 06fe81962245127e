#include "host/widgets/itemdownloader.h"

#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/requestdriver.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstdint>
#include <map>
#include <string>

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
{}

ItemDownloader::~ItemDownloader() = default;

QByteArray ItemDownloader::downloadedData() const
{
    return m_driver ? m_driver->body() : m_data;
}

void ItemDownloader::start(TimeSpan timeout)
{
    if (m_driver)
        m_driver->abort("Download abandoned by a new start");

    NetworkAccessManager *manager = installedManager();
    if (!manager) {
        fail("No network access manager is installed");
        return;
    }
    NetworkRequestSettings settings;
    settings.url = m_url;
    m_data.clear();
    m_error = String();
    m_driver.reset(new RequestDriver(manager->createDownloadRequest(settings)));

    RequestDriver *driver = m_driver.get();
    connect(driver, &RequestDriver::downloadProgressSignal, this, &ItemDownloader::downloadProgressSignal);
    connect(driver, &RequestDriver::failedSignal, this, &ItemDownloader::fail);
    connect(driver, &RequestDriver::finishedSignal, this, &ItemDownloader::finish);
    const int64_t ms = timeout.milliseconds();
    driver->setTimeout(timeout, String("Download timed out after ") + String(std::to_string(ms) + " ms"));
    driver->setBodyLimit(m_bodyLimit);
    driver->start();
}

void ItemDownloader::finish()
{
    m_data = m_driver->body();
    m_driver.reset();
    Q_EMIT downloadedSignal();
}

void ItemDownloader::fail(StringView message)
{
    // Copied before the driver goes: the view points into it.
    m_error = String(message);
    m_driver.reset();
    m_data.clear();
    Q_EMIT downloadFailedSignal(m_error);
}

} // namespace ORVIK
