#include "apps/orvik/ntp/timeexchange.h"

#include "apps/orvik/ntp/timerequestextras.h"
#include "host/base/orviktime.h"
#include "host/base/stringview.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/timerequest.h"

#include <algorithm>

namespace ORVIK {

TimeExchange::TimeExchange(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish(Outcome::TimedOut); });
}

TimeExchange::~TimeExchange() = default;

void TimeExchange::start(NetworkAccessManager &manager, const QString &host, uint16_t port, int timeoutMs)
{
    const QByteArray name = host.toUtf8();
    // Our own reading bounds the send from below when the request does not give its own.
    m_exchange.sentAfter = Time::SystemTime().nanoseconds();
    m_request.reset(manager.createTimeRequest(StringView(name.constData(), static_cast<uint32_t>(name.size())), port));
    if (!m_request)
        return finish(Outcome::Failed);
    // Its lookup has only started; binding and sending happen later, on this thread's event loop.
    connect(m_request.get(), &TimeRequest::finishedSignal, this, &TimeExchange::takeReply);
    connect(m_request.get(), &TimeRequest::errorOccurredSignal, this, [this] {
        m_failureReason = TimeRequestExtras::of(*m_request).failureReason;
        finish(Outcome::Failed);
    });
    startTimeout(timeoutMs);
}

void TimeExchange::startTimeout(int timeoutMs)
{
    m_timeout.start(timeoutMs);
}

void TimeExchange::takeReply()
{
    if (m_done)
        return;
    const TimeRequestExtras extras = TimeRequestExtras::of(*m_request);
    if (!extras.replyDatagram || extras.replyDatagram->size() < static_cast<int>(m_exchange.packet.size()))
        return finish(Outcome::NoDatagram);
    NtpExchange exchange = m_exchange;
    std::copy_n(extras.replyDatagram->constData(), exchange.packet.size(), exchange.packet.begin());
    if (extras.stampClockReading >= 0)
        exchange.sentAfter = extras.stampClockReading;
    if (extras.sentClockReading >= 0)
        exchange.sentBefore = extras.sentClockReading;
    exchange.received = m_request->rxTime().nanoseconds();
    NtpVerdict verdict = judgeExchange(exchange);
    if (verdict.kind == NtpVerdict::Kind::Stray)
        return; // the answer to our request may still come
    m_exchange = exchange;
    m_verdict = std::move(verdict);
    finish(Outcome::Replied);
}

void TimeExchange::finish(Outcome outcome)
{
    // Later datagrams, errors or the time-out must not replace what decided the outcome.
    if (m_done)
        return;
    m_done = true;
    m_outcome = outcome;
    m_timeout.stop();
    if (m_request)
        m_request->disconnect(this);
    // From the event loop, not from inside the request's own signal: there it can be deleted at once,
    // which frees its port before anyone hears that this exchange is over.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_request.reset();
            Q_EMIT finished();
        },
        Qt::QueuedConnection);
}

} // namespace ORVIK
