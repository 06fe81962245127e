#include "apps/orvik/transfer/transferrun.h"

#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"

#include <QEventLoop>
#include <QIODevice>

#include <algorithm>

namespace ORVIK {

namespace {

// Takes every byte and keeps none.
class Discard : public QIODevice
{
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 length) override { return length; }
};

} // namespace

TransferRun::TransferRun(NetworkRequest *request, Direction direction, TransferProgress *progress)
    : m_discard(std::make_unique<Discard>()), m_driver(request), m_direction(direction), m_progress(progress)
{
    m_discard->open(QIODevice::WriteOnly);
    m_driver.setSink(m_discard.get());
    m_connectTimer.setSingleShot(true);
    // Whatever comes back from the server means the connection was made.
    connect(request, &NetworkRequest::requestSentSignal, this, &TransferRun::connected);
    connect(request, &NetworkRequest::metaDataChangedSignal, this, &TransferRun::connected);
    connect(request, &NetworkRequest::uploadProgressSignal, this, &TransferRun::connected);
    connect(&m_connectTimer, &QTimer::timeout, this,
            [this] { m_driver.abort(StringStream<QString>::toString(m_connectReason)); });
    // Redraws a transfer that does not move, so its rate falls and the stall shows.
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        if (m_progress)
            m_progress->tick();
    });
}

void TransferRun::setSink(QIODevice *sink)
{
    m_driver.setSink(sink ? sink : m_discard.get());
}

QString TransferRun::timeoutReason(qint64 ms)
{
    return QStringLiteral("timed out after %1 s").arg(double(ms) / 1000);
}

void TransferRun::setTimeoutMs(qint64 ms, qint64 spentMs)
{
    // What is left, at least a moment: zero would mean no limit.
    const qint64 left = ms > 0 ? std::max<qint64>(ms - spentMs, 1) : 0;
    m_driver.setTimeout(TimeSpan::FromMilliseconds(left), StringStream<QString>::toString(timeoutReason(ms)));
}

void TransferRun::setConnectTimeoutMs(qint64 ms, const QString &reason)
{
    m_connectTimer.setInterval(int(ms));
    m_connectReason = reason;
}

bool TransferRun::run()
{
    QEventLoop loop;
    bool ended = false;
    const auto end = [&] {
        ended = true;
        loop.quit();
    };
    connect(&m_driver, &RequestDriver::downloadProgressSignal, this, [this](qint64 received, qint64 total) {
        if (m_direction != Direction::Download)
            return;
        m_total = total;
        if (m_progress)
            m_progress->update(received, total);
    });
    connect(&m_driver, &RequestDriver::uploadProgressSignal, this, [this](qint64 sent, qint64 total) {
        if (m_direction != Direction::Upload)
            return;
        m_sent = sent;
        m_total = total;
        if (m_progress)
            m_progress->update(sent, total);
    });
    connect(&m_driver, &RequestDriver::finishedSignal, this, end);
    connect(&m_driver, &RequestDriver::failedSignal, this, [this, &end](StringView reason) {
        m_error = StringStream<QString>::fromString(reason);
        end();
    });

    if (m_connectTimer.interval() > 0)
        m_connectTimer.start();
    m_tick.start();
    m_driver.start();
    if (!ended)
        loop.exec();
    m_tick.stop();
    m_connectTimer.stop();
    disconnect(&m_driver, nullptr, this, nullptr);
    const bool failed = m_driver.hasFailed();
    if (m_progress && failed)
        m_progress->abandon();
    else if (m_progress)
        m_progress->finish(m_direction == Direction::Download ? m_driver.bytesReceived() : m_sent,
                           m_direction == Direction::Download && m_total < 0 ? m_driver.bytesReceived() : m_total);
    return !failed;
}

} // namespace ORVIK
