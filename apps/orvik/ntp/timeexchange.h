#pragma once

#include "time/ntpsample.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace ORVIK {

class NetworkAccessManager;
class TimeRequest;

// One request through the installed access manager and the first reply that answers it, with the
// clock readings around the send. Several run at once on the caller's event loop. Use one object per
// request: it ignores anything after it has finished. NtsExchange asks an NTS server instead.
class TimeExchange : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Replied, Failed, TimedOut, NoDatagram };

    explicit TimeExchange(QObject *parent = nullptr);
    ~TimeExchange() override;

    // Whether an accepted reply was authenticated (NTS); the module's plain requests never are.
    virtual bool authenticated() const noexcept { return false; }
    // Why the last datagram that claimed to answer was refused (empty when none was): an NTS reply
    // that does not authenticate is passed over, and the real one may still come.
    const QString &refusal() const noexcept { return m_refusal; }
    // After Outcome::TimedOut: an NTS server said that it no longer takes our cookies (NTSN).
    bool ntsNak() const noexcept { return m_ntsNak; }

    // Asks host:port once and waits up to timeoutMs for a reply that answers the request; datagrams that
    // do not (stray or forged ones) are passed over. finished() follows later, from the event loop, even
    // when the request cannot be created. Call once.
    void start(NetworkAccessManager &manager, const QString &host, uint16_t port, int timeoutMs);

    Outcome outcome() const noexcept { return m_outcome; }
    // After Outcome::Replied: what the reply says, as judgeExchange finds it (never Stray).
    const NtpVerdict &verdict() const noexcept { return m_verdict; }
    // After Outcome::Replied: the reply's header and the clock readings.
    const NtpExchange &exchange() const noexcept { return m_exchange; }
    // After Outcome::Failed: why, as the request says it; empty when it does not.
    const QString &failureReason() const noexcept { return m_failureReason; }

Q_SIGNALS:
    // Emitted once. The request is gone and its port free again; a handler may delete this object.
    void finished();

protected:
    void startTimeout(int timeoutMs);
    void finish(Outcome outcome);
    bool done() const noexcept { return m_done; }

    QString m_failureReason;
    NtpExchange m_exchange;
    NtpVerdict m_verdict;
    QString m_refusal;
    bool m_ntsNak = false;

private:
    void takeReply();

    std::unique_ptr<TimeRequest> m_request;
    QTimer m_timeout;
    Outcome m_outcome = Outcome::TimedOut;
    bool m_done = false;
};

} // namespace ORVIK
