#include "network/qtnetworkaccessmanager.h"

#include "host/widgets/qstringstream.h"
#include "network/qtnetworkrequest.h"
#include "time/ntpclient.h"
#include "time/ntpreceiveport.h"

#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QUrl>

namespace ORVIK {

QNetworkRequest QtNetworkAccessManager::buildQNetworkRequest(const NetworkRequestSettings &settings)
{
    QUrl url(StringStream<QString>::fromString(settings.url), QUrl::TolerantMode);
    if (settings.password.length() != 0)
        url.setPassword(StringStream<QString>::fromString(settings.password), QUrl::DecodedMode);
    if (settings.username.length() != 0)
        url.setUserName(StringStream<QString>::fromString(settings.username), QUrl::DecodedMode);
    if (settings.port != NetworkRequestSettings::kNoPort)
        url.setPort(settings.port);
    return QNetworkRequest(url);
}

QNetworkAccessManager *QtNetworkAccessManager::sharedQtManager()
{
    if (!manager)
        manager = new QNetworkAccessManager; // never deleted: requests borrow it for the process's life
    return manager;
}

QtNetworkRequest *QtNetworkAccessManager::createWebRequest(const NetworkRequestSettings &settings)
{
    QNetworkAccessManager *shared = sharedQtManager();
    return new QtNetworkRequest(buildQNetworkRequest(settings), shared);
}

NetworkRequest *QtNetworkAccessManager::createDownloadRequest(const NetworkRequestSettings &settings)
{
    return createWebRequest(settings);
}

NetworkRequest *QtNetworkAccessManager::createFileUploadRequest(const NetworkRequestSettings &settings,
                                                                const File &file)
{
    QtNetworkRequest *request = createWebRequest(settings);
    request->uploadFile = file;
    return request;
}

NetworkRequest *QtNetworkAccessManager::createDataUploadRequest(const NetworkRequestSettings &settings,
                                                                const Buffer<uint8_t> &data)
{
    QtNetworkRequest *request = createWebRequest(settings);
    request->uploadData = data;
    return request;
}

TimeRequest *QtNetworkAccessManager::createTimeRequest(const StringView &host, uint16_t port)
{
    auto *client = new NtpClient;
    // The client is the lookup's context: a client destroyed first never sees the result.
    QHostInfo::lookupHost(StringStream<QString>::fromString(host), client, [client, port](const QHostInfo &info) {
        client->lookupCompleted(info, kNtpReceivePort, port);
    });
    return client;
}

} // namespace ORVIK
