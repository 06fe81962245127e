#include "apps/orvik/ntp/timeexchange.h"

#include "apps/orvik/ntp/timerequestextras.h"
#include "host/base/orviktime.h"
#include "host/base/stringview.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/timerequest.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace ORVIK {

TimeExchange::Outcome TimeExchange::run(NetworkAccessManager &manager, const QString &host, uint16_t port,
                                        int timeoutMs)
{
    const QByteArray name = host.toUtf8();
    QEventLoop loop;
    m_loop = &loop;
    // Our own reading bounds the send from below when the request does not give its own.
    m_exchange.sentAfter = Time::SystemTime().nanoseconds();
    const std::unique_ptr<TimeRequest> request(
        manager.createTimeRequest(StringView(name.constData(), static_cast<uint32_t>(name.size())), port));
    if (!request)
        return Outcome::Failed;
    m_request = request.get();
    const auto forget = qScopeGuard([this] { m_request = nullptr, m_loop = nullptr; });
    // Its lookup has only started; binding and sending happen later, on this thread's event loop.
    QObject::connect(request.get(), &TimeRequest::finishedSignal, &loop, [this] { takeReply(); });
    QObject::connect(request.get(), &TimeRequest::errorOccurredSignal, &loop, [this] {
        m_failureReason = TimeRequestExtras::of(*m_request).failureReason;
        finish(Outcome::Failed);
    });
    QTimer::singleShot(timeoutMs, &loop, [this] { finish(Outcome::TimedOut); });
    loop.exec();
    return m_outcome;
}

void TimeExchange::takeReply()
{
    const TimeRequestExtras extras = TimeRequestExtras::of(*m_request);
    if (!extras.replyDatagram || extras.replyDatagram->size() < static_cast<int>(m_exchange.packet.size()))
        return finish(Outcome::NoDatagram);
    std::copy_n(extras.replyDatagram->constData(), m_exchange.packet.size(), m_exchange.packet.begin());
    if (extras.stampClockReading >= 0)
        m_exchange.sentAfter = extras.stampClockReading;
    if (extras.sentClockReading >= 0)
        m_exchange.sentBefore = extras.sentClockReading;
    m_exchange.received = m_request->rxTime().nanoseconds();
    finish(Outcome::Replied);
}

void TimeExchange::finish(Outcome outcome)
{
    // Later datagrams, errors or the time-out must not replace what decided the outcome.
    if (m_done)
        return;
    m_done = true;
    QObject::disconnect(m_request, nullptr, m_loop, nullptr);
    m_outcome = outcome;
    m_loop->quit();
}

} // namespace ORVIK
