#pragma once

#include "host/base/orvikstring.h"
#include "host/base/timespan.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QObject>

#include <memory>

namespace ORVIK {

class NetworkAccessManager;
class RequestDriver;

// Downloads one address through the installed access manager, with a time-out.
// There is one downloader per address; all belong to the application object.
class ORVIKWIDGETS_EXPORT ItemDownloader : public QObject
{
    Q_OBJECT
public:
    // Makes every later download use this manager. It is never destroyed.
    static void SetAccessManager(NetworkAccessManager *manager);
    static NetworkAccessManager *AccessManager();
    // Whether an access manager is installed; nothing to do with the NetworkManager daemon.
    static bool HasNetworkManager();
    // The downloader for this address, or null without a manager, an address or an application object.
    static ItemDownloader *GetItemDownloader(const StringView &url);

    ~ItemDownloader() override;

    const String &url() const noexcept { return m_url; }
    bool isRunning() const noexcept { return m_driver != nullptr; }
    // Each start ends in exactly one downloadedSignal or downloadFailedSignal; a span of zero or
    // less means no time-out. A start while a
    // download runs abandons that download, which then fails. Which failure wins is the request
    // driver's rule: the first.
    void start(TimeSpan timeout);
    // The body of the last successful download (and, while one runs, what has arrived so far).
    QByteArray downloadedData() const;
    // Later starts fail as soon as more body bytes than this arrive, holding no more; negative: no limit.
    void setBodyLimit(qint64 bytes) { m_bodyLimit = bytes; }

Q_SIGNALS:
    void downloadedSignal();
    void downloadFailedSignal(ORVIK::StringView message);
    void downloadProgressSignal(qint64 bytesReceived, qint64 bytesTotal);

private:
    explicit ItemDownloader(const StringView &url, QObject *parent);

    struct DeleteLater
    {
        void operator()(QObject *object) const;
    };

    void finish();
    void fail(StringView message);

    String m_url;
    // Dropped inside its own signals, so it goes later.
    std::unique_ptr<RequestDriver, DeleteLater> m_driver;
    QByteArray m_data;
    String m_error;
    qint64 m_bodyLimit = -1;
};

} // namespace ORVIK
