#include "apps/orvik/transfer/transferprogress.h"

#include <algorithm>

namespace ORVIK {

namespace {

constexpr int kBarWidth = 24;
constexpr qint64 kTerminalIntervalMs = 100;
constexpr qint64 kLineIntervalMs = 1000;

} // namespace

TransferProgress::TransferProgress(QTextStream &stream, bool terminal) : m_stream(stream), m_terminal(terminal)
{
    m_clock.start();
}

QString TransferProgress::formatBytes(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString TransferProgress::formatDuration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60);
}

QString TransferProgress::describe(qint64 done, qint64 total, qint64 elapsedMs)
{
    QString text = formatBytes(done);
    if (total >= 0) {
        const qint64 percent = total > 0 ? std::min<qint64>(100, done * 100 / total) : 100;
        text += QStringLiteral(" / %1 (%2%)").arg(formatBytes(total)).arg(percent);
    }
    const double rate = elapsedMs > 0 ? double(done) * 1000 / double(elapsedMs) : 0;
    text += QStringLiteral(", %1/s").arg(formatBytes(qint64(rate)));
    if (total >= 0 && done < total && rate > 0)
        text += QStringLiteral(", ETA %1").arg(formatDuration(qint64((double(total - done) / rate) + 0.999)));
    return text;
}

void TransferProgress::update(qint64 done, qint64 total)
{
    const qint64 now = m_clock.elapsed();
    const qint64 interval = m_terminal ? kTerminalIntervalMs : kLineIntervalMs;
    if (m_lastShownMs >= 0 && now - m_lastShownMs < interval)
        return;
    m_lastShownMs = now;
    show(done, total);
}

void TransferProgress::finish(qint64 done, qint64 total)
{
    // A line once written stays in a log: the final state, when already shown, is not repeated.
    if (m_terminal || done != m_shownDone || total != m_shownTotal)
        show(done, total);
    if (m_terminal)
        m_stream << '\n';
    m_stream.flush();
}

void TransferProgress::abandon()
{
    if (m_terminal && m_lastWidth > 0)
        m_stream << '\n';
    m_stream.flush();
}

void TransferProgress::show(qint64 done, qint64 total)
{
    const QString text = describe(done, total, m_clock.elapsed());
    m_shownDone = done;
    m_shownTotal = total;
    if (!m_terminal) {
        m_stream << "progress: " << text << '\n';
        m_stream.flush();
        return;
    }
    QString line;
    if (total > 0) {
        const int filled = int(std::min<qint64>(kBarWidth, done * kBarWidth / total));
        line = QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.')) +
               QStringLiteral("] ");
    }
    line += text;
    // Blank out what a longer previous line left behind.
    const int width = int(line.size());
    if (width < m_lastWidth)
        line += QString(m_lastWidth - width, QLatin1Char(' '));
    m_lastWidth = width;
    m_stream << '\r' << line;
    m_stream.flush();
}

} // namespace ORVIK
