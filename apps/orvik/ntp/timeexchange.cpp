#include "apps/orvik/ntp/timeexchange.h"

#include "host/base/orviktime.h"
#include "host/base/stringview.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/timerequest.h"

#include <QChildEvent>
#include <QEventLoop>
#include <QMetaMethod>
#include <QScopeGuard>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstring>
#include <memory>

namespace ORVIK {

namespace {

// The request is the module's own client class, which orvik cannot name: the module is loaded at run
// time, not linked, so a member-function pointer to its signal does not exist here. The signal that
// carries the whole datagram is therefore found in the request's meta-object by its signature (the
// module registers NtpReply under this name), and connected to a slot of the same shape.
constexpr char kReplySignal[] = "replyReceived(QHostAddress,ushort,ORVIK::NtpReply)";
constexpr char kReplySlot[] = "takeReply(QHostAddress,ushort,ORVIK::NtpReply)";

int64_t now()
{
    return Time::SystemTime().nanoseconds();
}

} // namespace

TimeExchange::Outcome TimeExchange::run(NetworkAccessManager &manager, const QString &host, uint16_t port,
                                        int timeoutMs)
{
    const QByteArray name = host.toUtf8();
    QEventLoop loop;
    m_loop = &loop;
    m_exchange.sentAfter = now();
    const std::unique_ptr<TimeRequest> request(
        manager.createTimeRequest(StringView(name.constData(), static_cast<uint32_t>(name.size())), port));
    if (!request)
        return Outcome::Failed;
    m_request = request.get();
    const auto forget = qScopeGuard([this] { m_request = nullptr, m_loop = nullptr; });
    // Its lookup has only started; binding and sending happen later, on this thread's event loop.
    request->installEventFilter(this);
    const QMetaObject *meta = request->metaObject();
    const QMetaMethod signal = meta->method(meta->indexOfSignal(kReplySignal));
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot(kReplySlot));
    if (!signal.isValid() || !connect(request.get(), signal, this, slot))
        return Outcome::NoDatagramSignal;
    connect(request.get(), &TimeRequest::errorOccurredSignal, this, [this] { finish(Outcome::Failed); });
    QTimer::singleShot(timeoutMs, &loop, [this] { finish(Outcome::TimedOut); });
    loop.exec();
    return m_outcome;
}

bool TimeExchange::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_request && event->type() == QEvent::ChildAdded) {
        // An announced child is not fully built yet: keep only its address and the moment.
        m_childrenAdded.append({static_cast<QChildEvent *>(event)->child(), now()});
        // Runs once the call that created the child has returned.
        QMetaObject::invokeMethod(this, &TimeExchange::noteSent, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

// The client creates its socket, binds it and sends, all in one call. So once a bound socket is among
// its children, the request has left; and it cannot have left before that socket existed.
void TimeExchange::noteSent()
{
    if (m_sendSeen || !m_request)
        return;
    const int64_t seen = now();
    for (const QUdpSocket *socket : m_request->findChildren<QUdpSocket *>(Qt::FindDirectChildrenOnly)) {
        if (socket->state() != QAbstractSocket::BoundState)
            continue;
        // The last entry at this address is the live object: an address is reused only after a delete.
        for (const auto &[child, added] : m_childrenAdded)
            if (child == socket)
                m_exchange.sentAfter = std::max(m_exchange.sentAfter, added);
        m_exchange.sentBefore = seen;
        m_sendSeen = true;
    }
}

void TimeExchange::takeReply(const QHostAddress &, ushort, const NtpReply &reply)
{
    noteSent();
    // The client reads the clock for its stored reply before the one it signals: the earlier is closer.
    const Time stored = m_request->rxTime();
    m_exchange.received = (stored.isSet() && stored < reply.receiveTime ? stored : reply.receiveTime).nanoseconds();
    std::memcpy(m_exchange.packet.data(), reply.packet, m_exchange.packet.size());
    finish(Outcome::Replied);
}

void TimeExchange::finish(Outcome outcome)
{
    // Later datagrams, errors or the time-out must not replace what decided the outcome.
    disconnect(m_request, nullptr, this, nullptr);
    m_outcome = outcome;
    m_loop->quit();
}

} // namespace ORVIK
