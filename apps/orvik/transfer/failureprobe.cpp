#include "apps/orvik/transfer/failureprobe.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSslError>
#include <QTimer>

namespace ORVIK {

FailureProbe::Result FailureProbe::run(const QUrl &url, bool insecure, int timeoutMs)
{
    Result result;
    result.url = url;
    QNetworkAccessManager manager;
    QEventLoop loop;
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    bool stopped = false;
    QObject::connect(reply, &QNetworkReply::redirected, &loop, [&](const QUrl &next) { result.url = next; });
    QObject::connect(reply, &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            if (!result.sslProblems.contains(error.errorString()))
                result.sslProblems << error.errorString();
        if (insecure)
            reply->ignoreSslErrors();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A redirect that Qt follows is a step, not the answer; the body is of no interest.
        if (status > 0 && (status < 300 || status >= 400)) {
            result.status = status;
            stopped = true;
            loop.quit();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!stopped && reply->isFinished()) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.error = reply->error();
        result.errorString = reply->errorString();
    }
    // Nothing more is wanted: the exchange and its connection end here.
    QObject::disconnect(reply, nullptr, &loop, nullptr);
    reply->abort();
    delete reply;
    return result;
}

} // namespace ORVIK
