#pragma once

#include "time/ntpsample.h"

#include <QString>

#include <cstdint>

class QEventLoop;

namespace ORVIK {

class NetworkAccessManager;
class TimeRequest;

// One request through the installed access manager and its first reply, with the clock readings around
// the send. Use one object per request: it ignores anything after its run.
class TimeExchange
{
public:
    enum class Outcome { Replied, Failed, TimedOut, NoDatagram };

    // Asks host:port once and waits up to timeoutMs for a reply. The request is gone, and its port
    // free again, when this returns.
    Outcome run(NetworkAccessManager &manager, const QString &host, uint16_t port, int timeoutMs);
    // Valid after Outcome::Replied.
    const NtpExchange &exchange() const noexcept { return m_exchange; }
    // After Outcome::Failed: why, as the request says it; empty when it does not.
    const QString &failureReason() const noexcept { return m_failureReason; }

private:
    void takeReply();
    void finish(Outcome outcome);

    TimeRequest *m_request = nullptr; // owned by run()
    QEventLoop *m_loop = nullptr;     // run()'s
    Outcome m_outcome = Outcome::TimedOut;
    bool m_done = false;
    QString m_failureReason;
    NtpExchange m_exchange;
};

} // namespace ORVIK
