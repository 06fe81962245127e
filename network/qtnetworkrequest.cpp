#include "network/qtnetworkrequest.h"

#include <QNetworkAccessManager>

// Placeholder so that the foundation links; the web-transfer work replaces it.
namespace ORVIK {

QtNetworkRequest::QtNetworkRequest(const QNetworkRequest &request, QNetworkAccessManager *manager)
    : request(request), manager(manager)
{}

QtNetworkRequest::~QtNetworkRequest() = default;

void QtNetworkRequest::close()
{}

void QtNetworkRequest::ignoreSslErrors()
{}

bool QtNetworkRequest::isRunning()
{
    return false;
}

bool QtNetworkRequest::start()
{
    return true;
}

QByteArray QtNetworkRequest::readAll()
{
    return {};
}

void QtNetworkRequest::processErrorSlot(QNetworkReply::NetworkError)
{}

void QtNetworkRequest::connectReply(QNetworkReply *)
{}

} // namespace ORVIK
