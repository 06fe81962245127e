#include "apps/orvik/transfer/transferrun.h"

#include "host/base/exception.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"

#include <QIODevice>
#include <QTimer>

namespace ORVIK {

TransferRun::TransferRun(NetworkRequest *request, Shown shown, TransferProgress *progress)
    : m_request(request), m_shown(shown), m_progress(progress)
{}

bool TransferRun::run()
{
    connect(m_request, &NetworkRequest::downloadProgressSignal, this, [this](qint64, qint64 total) {
        drain();
        if (m_shown == Shown::Download && !m_failed) {
            m_total = total;
            if (m_progress)
                m_progress->update(m_received, total);
        }
    });
    connect(m_request, &NetworkRequest::uploadProgressSignal, this, [this](qint64 sent, qint64 total) {
        // Qt ends an upload with 0 of 0; keep the last real figures.
        if (m_shown != Shown::Upload || m_failed || (sent == 0 && total == 0))
            return;
        m_sent = sent;
        m_total = total;
        if (m_progress)
            m_progress->update(sent, total);
    });
    connect(m_request, &NetworkRequest::errorOccurredSignal, this, [this](StringView text) {
        if (m_failed)
            return; // the first reason is the one that counts
        m_failed = true;
        m_error = StringStream<QString>::fromString(text);
        if (m_error.isEmpty())
            m_error = QStringLiteral("transfer failed (no error text)");
    });
    connect(m_request, &NetworkRequest::finishedSignal, this, [this] {
        drain();
        m_finished = true;
        m_loop.quit();
    });

    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this,
            [this] { stop(QStringLiteral("timed out after %1 s").arg(m_timeoutSeconds)); });
    if (m_timeoutSeconds > 0)
        timeout.start(m_timeoutSeconds * 1000);

    try {
        m_request->start();
    } catch (const Exception &exception) {
        m_error = StringStream<QString>::fromString(exception.message());
        return false;
    }
    // Qt takes this right after start: it applies to the handshake that follows.
    if (m_insecure)
        m_request->ignoreSslErrors();
    if (!m_finished)
        m_loop.exec();
    timeout.stop();
    if (m_progress && m_failed)
        m_progress->abandon();
    else if (m_progress)
        m_progress->finish(m_shown == Shown::Download ? m_received : m_sent,
                           m_shown == Shown::Download && m_total < 0 ? m_received : m_total);
    return !m_failed;
}

void TransferRun::drain()
{
    const QByteArray bytes = m_request->readAll();
    m_received += bytes.size();
    if (!m_sink || bytes.isEmpty() || m_failed)
        return;
    if (m_sink->write(bytes) != bytes.size())
        stop(QStringLiteral("cannot write the body: %1").arg(m_sink->errorString()));
}

void TransferRun::stop(const QString &why)
{
    if (!m_failed) {
        m_failed = true;
        m_error = why;
    }
    m_request->disconnect(this);
    m_request->close();
    m_finished = true;
    m_loop.quit();
}

} // namespace ORVIK
