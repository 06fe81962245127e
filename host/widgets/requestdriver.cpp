#include "host/widgets/requestdriver.h"

#include "host/base/exception.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"

#include <QIODevice>
#include <QPointer>

#include <algorithm>
#include <cstdint>
#include <string>

namespace ORVIK {

namespace {

String millisecondsText(int ms)
{
    return String(std::to_string(ms) + " ms");
}

void setSpan(QTimer &timer, TimeSpan span)
{
    const int64_t ms = span.milliseconds();
    timer.setInterval(ms > 0 ? static_cast<int>(std::min<int64_t>(ms, INT32_MAX)) : 0);
}

} // namespace

class RequestDriver::Busy
{
public:
    explicit Busy(RequestDriver *driver) : m_driver(driver) { ++driver->m_busy; }
    ~Busy()
    {
        if (m_driver)
            --m_driver->m_busy;
    }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    QPointer<RequestDriver> m_driver;
};

RequestDriver::RequestDriver(NetworkRequest *request, QObject *parent) : QObject(parent), m_request(request)
{
    m_timeout.setSingleShot(true);
    m_stall.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        fail(m_timeoutReason.isEmpty() ? String("timed out after ") + millisecondsText(m_timeout.interval())
                                       : m_timeoutReason);
    });
    connect(&m_stall, &QTimer::timeout, this,
            [this] { fail(String("stalled: no bytes for ") + millisecondsText(m_stall.interval())); });
}

RequestDriver::~RequestDriver()
{
    if (!m_request)
        return;
    if (m_state == State::Running) {
        detach();
        m_request->close();
    }
    // Deleted while the request is still inside one of its own signals: it must survive that.
    if (m_busy > 0)
        m_request.release()->deleteLater();
}

void RequestDriver::setTimeout(TimeSpan span, const String &reason)
{
    setSpan(m_timeout, span);
    m_timeoutReason = reason;
}

void RequestDriver::setStallTimeout(TimeSpan span)
{
    setSpan(m_stall, span);
}

void RequestDriver::start()
{
    if (m_state != State::Idle || !m_request)
        return;
    m_state = State::Running;
    NetworkRequest *request = m_request.get();
    connect(request, &NetworkRequest::downloadProgressSignal, this, [this](qint64 received, qint64 total) {
        const Busy busy(this);
        m_total = total;
        const QPointer<RequestDriver> alive(this);
        drain();
        if (alive && isRunning() && !m_requestFailed)
            Q_EMIT downloadProgressSignal(received, total);
    });
    connect(request, &NetworkRequest::uploadProgressSignal, this, [this](qint64 sent, qint64 total) {
        const Busy busy(this);
        if ((sent == 0 && total == 0) || m_requestFailed)
            return;
        if (sent > m_sent) {
            m_sent = sent;
            madeProgress();
        }
        Q_EMIT uploadProgressSignal(sent, total);
    });
    // The request ends itself after its error: closing it inside the error's report would make
    // Qt report a second error. The failure is kept and given with the finish that follows.
    connect(request, &NetworkRequest::errorOccurredSignal, this, [this](StringView text) {
        if (m_requestFailed)
            return;
        m_requestFailed = true;
        m_requestError = text.isEmpty() ? String("transfer failed (no error text)") : String(text);
    });
    connect(request, &NetworkRequest::finishedSignal, this, [this] {
        const Busy busy(this);
        finish();
    });

    if (m_timeout.interval() > 0)
        m_timeout.start();
    if (m_stall.interval() > 0)
        m_stall.start();
    const Busy busy(this);
    const QPointer<RequestDriver> alive(this);
    try {
        request->start();
    } catch (const Exception &error) {
        if (alive)
            fail(error.message());
        return;
    }
    if (alive && isRunning() && m_ignoreSslErrors)
        request->ignoreSslErrors();
}

void RequestDriver::abort(const String &reason)
{
    fail(reason);
}

void RequestDriver::drain()
{
    if (!isRunning())
        return;
    const QByteArray bytes = m_request->readAll();
    if (bytes.isEmpty() || m_requestFailed)
        return;
    m_received += bytes.size();
    madeProgress();
    if (m_bodyLimit >= 0 && m_received > m_bodyLimit) {
        fail(String("the body is larger than ") + String(std::to_string(m_bodyLimit) + " bytes"));
        return;
    }
    if (!m_sink) {
        m_body += bytes;
        return;
    }
    if (m_sink->write(bytes) != bytes.size())
        fail(String("cannot write the body: ") + StringStream<QString>::toString(m_sink->errorString()));
}

void RequestDriver::madeProgress()
{
    if (m_stall.interval() > 0)
        m_stall.start();
}

void RequestDriver::finish()
{
    // A failure while draining may have ended the driver, and a handler of it deleted it.
    const QPointer<RequestDriver> alive(this);
    drain();
    if (!alive || !isRunning())
        return;
    if (m_requestFailed) {
        fail(m_requestError);
        return;
    }
    if (m_total >= 0 && m_received < m_total) {
        m_cutShort = true;
        fail(String("the server closed the connection after " + std::to_string(m_received) + " of " +
                    std::to_string(m_total) + " bytes"));
        return;
    }
    m_state = State::Finished;
    detach();
    Q_EMIT finishedSignal();
}

void RequestDriver::fail(const String &reason)
{
    if (!isRunning())
        return;
    m_state = State::Failed;
    // Kept in a member: the view handed to the handlers must outlive them.
    m_failure = m_requestFailed ? m_requestError : reason;
    detach();
    m_request->close();
    Q_EMIT failedSignal(m_failure);
}

void RequestDriver::detach()
{
    m_timeout.stop();
    m_stall.stop();
    m_request->disconnect(this);
}

} // namespace ORVIK
