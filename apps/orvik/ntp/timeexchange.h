#pragma once

#include "apps/orvik/ntp/ntpsample.h"
#include "time/ntpreply.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>

class QEventLoop;

namespace ORVIK {

class NetworkAccessManager;
class TimeRequest;

// One request through the installed access manager and its first reply, with the host's own clock
// readings around the send. Use one object per request: it ignores anything after its run.
class TimeExchange : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Replied, Failed, TimedOut, NoDatagramSignal };

    // Asks host:port once and waits up to timeoutMs for a reply. The request is gone, and its port
    // free again, when this returns.
    Outcome run(NetworkAccessManager &manager, const QString &host, uint16_t port, int timeoutMs);
    // Valid after Outcome::Replied.
    const NtpExchange &exchange() const noexcept { return m_exchange; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    void takeReply(const QHostAddress &address, ushort port, const ORVIK::NtpReply &reply);

private:
    void noteSent();
    void finish(Outcome outcome);

    TimeRequest *m_request = nullptr; // owned by run()
    QEventLoop *m_loop = nullptr;     // run()'s
    Outcome m_outcome = Outcome::TimedOut;
    bool m_sendSeen = false;
    QList<QPair<const QObject *, int64_t>> m_childrenAdded; // each child of the request, with when it came
    NtpExchange m_exchange;
};

} // namespace ORVIK
