#pragma once

#include "host/base/orvikstring.h"
#include "host/base/timespan.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

class QIODevice;

namespace ORVIK {

class NetworkRequest;

// Drives one request to exactly one outcome: finishedSignal, or failedSignal with one reason.
//
// Which reason wins: the first. The first thing that goes wrong (an error of the request, the body
// limit, a write to the sink, a time-out, abort) is the reason given. The request's own error ends
// the transfer with the finish that follows it (body that comes in between is dropped); anything
// else ends it at once. The request is detached and then closed, so nothing it reports afterwards
// (closing itself reports a cancellation and a finish) reaches the owner.
//
// The body is read on every download progress and on the finish: into memory (body()) or, with a
// sink, into that device, so nothing piles up. A handler of any signal may delete the driver.
//
// A finish with fewer body bytes than the last total that the request reported is a failure: Qt
// reports a connection that the server closed mid-body as a successful finish now and then. A body
// that Qt decodes has no total before its end, where the total is what was decoded.
class ORVIKWIDGETS_EXPORT RequestDriver : public QObject
{
    Q_OBJECT
public:
    // Takes the request. It goes with the driver: at once, or later when the driver is deleted while
    // the request is still delivering one of its signals.
    explicit RequestDriver(NetworkRequest *request, QObject *parent = nullptr);
    ~RequestDriver() override;

    // Settings, read by start().
    // Where the body goes; null (the default) keeps it in memory.
    void setSink(QIODevice *sink) { m_sink = sink; }
    // More body bytes than this fail the transfer as soon as they arrive; negative: no limit.
    void setBodyLimit(qint64 bytes) { m_bodyLimit = bytes; }
    // For the whole transfer; zero or less: none. The reason defaults to "timed out after N ms".
    void setTimeout(TimeSpan span, const String &reason = String());
    // No byte received or sent for this long; zero or less: none.
    void setStallTimeout(TimeSpan span);
    // Passed to the request right after it starts, which is when it applies to the handshake.
    void setIgnoreSslErrors(bool ignore) { m_ignoreSslErrors = ignore; }

    // Starts the request. A request that cannot start fails here, before start returns.
    void start();
    // Fails a running transfer with this reason; does nothing once it has ended.
    void abort(const String &reason);

    bool isRunning() const noexcept { return m_state == State::Running; }
    bool hasFailed() const noexcept { return m_state == State::Failed; }
    const String &failure() const noexcept { return m_failure; }
    // The failure is a body that ended before the length the server announced: the connection was
    // cut, and the same request may well succeed again.
    bool failedCutShort() const noexcept { return m_cutShort; }
    // Without a sink: the body so far.
    const QByteArray &body() const noexcept { return m_body; }
    // Body bytes read so far, with or without a sink.
    qint64 bytesReceived() const noexcept { return m_received; }

Q_SIGNALS:
    void finishedSignal();
    // The view points into the driver and is valid while the handler runs.
    void failedSignal(ORVIK::StringView reason);
    // Sent after what arrived has been read.
    void downloadProgressSignal(qint64 bytesReceived, qint64 bytesTotal);
    // Not sent for the 0 of 0 that Qt reports as an upload ends.
    void uploadProgressSignal(qint64 bytesSent, qint64 bytesTotal);

private:
    enum class State { Idle, Running, Finished, Failed };

    // Counts the driver's own calls into the request and its handlers of the request's signals:
    // while any runs, the request must outlive a deletion of the driver.
    class Busy;

    void drain();
    void fail(const String &reason);
    void detach();
    void finish();
    void madeProgress();

    std::unique_ptr<NetworkRequest> m_request;
    QIODevice *m_sink = nullptr;
    qint64 m_bodyLimit = -1;
    bool m_ignoreSslErrors = false;
    QTimer m_timeout;
    String m_timeoutReason;
    QTimer m_stall;
    State m_state = State::Idle;
    int m_busy = 0;
    String m_failure;
    bool m_requestFailed = false;
    bool m_cutShort = false;
    String m_requestError;
    QByteArray m_body;
    qint64 m_received = 0;
    qint64 m_total = -1;
    qint64 m_sent = 0;
};

} // namespace ORVIK
