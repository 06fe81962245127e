#pragma once

#include "host/widgets/networkaccessmanager.h"

#include <QNetworkRequest>

class QNetworkAccessManager;

namespace ORVIK {

// The module's access manager: web transfers on one shared Qt access manager, time queries over NTP.
class QtNetworkAccessManager final : public NetworkAccessManager
{
public:
    QtNetworkAccessManager() = default;

    NetworkRequest *createDownloadRequest(const NetworkRequestSettings &settings) override;
    NetworkRequest *createFileUploadRequest(const NetworkRequestSettings &settings, const File &file) override;
    NetworkRequest *createDataUploadRequest(const NetworkRequestSettings &settings,
                                            const Buffer<uint8_t> &data) override;
    TimeRequest *createTimeRequest(const StringView &host, uint16_t port) override;

    // The shared Qt access manager; null until the first web request.
    QNetworkAccessManager *qtManager() const noexcept { return manager; }

    static QNetworkRequest buildQNetworkRequest(const NetworkRequestSettings &settings);

private:
    class QtNetworkRequest *createWebRequest(const NetworkRequestSettings &settings);
    QNetworkAccessManager *sharedQtManager();

    // Created on first use and kept for the life of the process, like this object itself.
    QNetworkAccessManager *manager = nullptr;
};

} // namespace ORVIK
