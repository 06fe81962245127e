#pragma once

#include "host/base/orvikstring.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPair>
#include <QPointer>

class QNetworkAccessManager;

namespace ORVIK {

// A GET of an update package on a Qt access manager of the host's, with the headers that a
// download which continues after a cut needs (Range, If-Range, Accept-Encoding: identity): the
// module's requests carry their address only. It reports as every request does, so RequestDriver
// drives it, and keeps what the last response said (status, headers) for its owner to read.
class ORVIKWIDGETS_EXPORT PackageRequest : public NetworkRequest
{
    Q_OBJECT
public:
    // The manager is borrowed and must outlive this request.
    PackageRequest(QNetworkAccessManager *manager, const QNetworkRequest &request);
    ~PackageRequest() override;

    void close() override;
    void ignoreSslErrors() override;
    bool isRunning() override;
    bool start() override;
    QByteArray readAll() override;

    // What the response said so far: 0 before its head has arrived.
    int statusCode() const;
    QByteArray header(const QByteArray &name) const;
    // The error Qt reported, NoError when none.
    QNetworkReply::NetworkError networkError() const noexcept { return m_error; }

private:
    void offerArrivedBytes();

    QNetworkAccessManager *m_manager;
    QNetworkRequest m_request;
    QPointer<QNetworkReply> m_reply;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    qint64 m_taken = 0;
    String m_errorText;
};

} // namespace ORVIK
