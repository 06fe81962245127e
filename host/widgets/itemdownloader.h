#pragma once

#include "host/base/orvikstring.h"
#include "host/base/timespan.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

namespace ORVIK {

class NetworkAccessManager;
class NetworkRequest;

// Downloads one address through the installed access manager, with a time-out.
// There is one downloader per address; all belong to the application object.
class ORVIKWIDGETS_EXPORT ItemDownloader : public QObject
{
    Q_OBJECT
public:
    // Makes every later download use this manager. It is never destroyed.
    static void SetAccessManager(NetworkAccessManager *manager);
    static NetworkAccessManager *AccessManager();
    static bool HasNetworkManager();
    // The downloader for this address, or null without a manager, an address or an application object.
    static ItemDownloader *GetItemDownloader(const StringView &url);

    ~ItemDownloader() override;

    const String &url() const noexcept { return m_url; }
    bool isRunning() const noexcept { return m_request != nullptr; }
    // Each start ends in exactly one downloadedSignal or downloadFailedSignal; a span of zero or
    // less means no time-out. A start while a
    // download runs abandons that download, which then fails.
    void start(TimeSpan timeout);
    // The body of the last successful download (and, while one runs, what has arrived so far).
    QByteArray downloadedData() const { return m_data; }

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

    void readArrived();
    void finish();
    void fail(const String &message);
    void endTransfer();

    String m_url;
    std::unique_ptr<NetworkRequest, DeleteLater> m_request;
    QTimer m_timeout;
    QByteArray m_data;
    String m_error;
    bool m_hasError = false;
};

} // namespace ORVIK
