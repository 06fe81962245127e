#pragma once

#include "host/base/buffer.h"
#include "host/base/file.h"
#include "host/widgets/networkrequest.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <cstdint>

class QNetworkAccessManager;

namespace ORVIK {

// One HTTP or HTTPS transfer on the shared Qt access manager.
class QtNetworkRequest : public NetworkRequest
{
    Q_OBJECT
public:
    QtNetworkRequest(const QNetworkRequest &request, QNetworkAccessManager *manager);
    ~QtNetworkRequest() override;

    void close() override;
    void ignoreSslErrors() override;
    bool isRunning() override;
    bool start() override;
    QByteArray readAll() override;

    QNetworkAccessManager *qtManager() const noexcept { return manager; }

protected Q_SLOTS:
    void processErrorSlot(QNetworkReply::NetworkError error);

private:
    void connectReply(QNetworkReply *newReply);
    // Emits finishedSignal for this reply, the last thing the host hears of it.
    void relayFinished(QNetworkReply *finishedReply);

    QNetworkRequest request;
    QNetworkReply *reply = nullptr; // the last start's reply, a child of the shared Qt access manager
    QNetworkAccessManager *manager;

public:
    // What start sends: these bytes when there are any, else this file when it has a path, else a GET.
    Buffer<uint8_t> uploadData;
    File uploadFile;
};

} // namespace ORVIK
