#include "host/widgets/networkrequest.h"

#include <QEventLoop>
#include <QGlobalStatic>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace ORVIK {

namespace {

// The host's registry of the requests that exist, all on the thread of its event loop. Gone at
// the process's end before some requests may be: then nothing is recorded any more.
Q_GLOBAL_STATIC(QList<NetworkRequest *>, g_requests, )

} // namespace

NetworkRequest::NetworkRequest(QObject *parent) : QObject(parent)
{
    if (!g_requests.isDestroyed())
        g_requests->append(this);
}

NetworkRequest::~NetworkRequest()
{
    if (!g_requests.isDestroyed())
        g_requests->removeOne(this);
}

bool NetworkRequest::closeRunning(int timeoutMs)
{
    if (g_requests.isDestroyed())
        return true;
    QList<QPointer<NetworkRequest>> running;
    for (NetworkRequest *request : std::as_const(*g_requests))
        if (request->isRunning())
            running.append(request);
    const auto allFinished = [&running] {
        return std::all_of(running.cbegin(), running.cend(),
                           [](const QPointer<NetworkRequest> &request) { return !request || !request->isRunning(); });
    };
    QEventLoop loop;
    for (const QPointer<NetworkRequest> &request : std::as_const(running)) {
        const auto check = [&loop, &allFinished] {
            if (allFinished())
                loop.quit();
        };
        connect(request.data(), &NetworkRequest::finishedSignal, &loop, check, Qt::QueuedConnection);
        connect(request.data(), &QObject::destroyed, &loop, check, Qt::QueuedConnection);
    }
    // A handler of one request's end may delete another: each is looked at through its guard.
    for (const QPointer<NetworkRequest> &request : std::as_const(running))
        if (request && request->isRunning())
            request->close();
    if (allFinished())
        return true;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return allFinished();
}

} // namespace ORVIK
