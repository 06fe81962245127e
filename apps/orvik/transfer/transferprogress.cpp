#include "apps/orvik/transfer/transferprogress.h"

#include "apps/orvik/cli/terminal.h"

#include <algorithm>

namespace ORVIK {

namespace {

constexpr int kBarWidth = 24;
constexpr qint64 kTerminalIntervalMs = 100;
constexpr qint64 kLineIntervalMs = 1000;
// The rate is what arrived in this window; nothing for this long is a stall.
constexpr qint64 kRateWindowMs = 5000;
constexpr qint64 kStalledAfterMs = 3000;

} // namespace

TransferProgress::TransferProgress(QTextStream &stream, bool terminal, Clock clock)
    : m_stream(stream), m_terminal(terminal), m_clock(std::move(clock))
{
    m_elapsed.start();
    if (!m_clock)
        m_clock = [this] { return m_elapsed.elapsed(); };
    m_samples.append({0, 0});
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
    return describe(done, total, elapsedMs > 0 ? double(done) * 1000 / double(elapsedMs) : 0, false);
}

QString TransferProgress::describe(qint64 done, qint64 total, double rate, bool stalled)
{
    QString text = formatBytes(done);
    if (total >= 0) {
        const qint64 percent = total > 0 ? std::min<qint64>(100, done * 100 / total) : 100;
        text += QStringLiteral(" / %1 (%2%)").arg(formatBytes(total)).arg(percent);
    }
    if (stalled)
        return text + QStringLiteral(", stalled");
    text += QStringLiteral(", %1/s").arg(formatBytes(qint64(rate)));
    if (total >= 0 && done < total && rate > 0)
        text += QStringLiteral(", ETA %1").arg(formatDuration(qint64((double(total - done) / rate) + 0.999)));
    return text;
}

QString TransferProgress::fitLine(const QString &bar, const QString &text, int width)
{
    const int room = std::max(1, width - 1);
    if (bar.size() + text.size() <= room)
        return bar + text;
    if (text.size() <= room)
        return text;
    return text.left(room);
}

double TransferProgress::recentRate(qint64 now) const
{
    if (m_samples.isEmpty())
        return 0;
    const QPair<qint64, qint64> &oldest = m_samples.constFirst();
    const qint64 span = std::max<qint64>(now - oldest.first, 1);
    return double(m_done - oldest.second) * 1000 / double(span);
}

void TransferProgress::update(qint64 done, qint64 total)
{
    const qint64 now = m_clock();
    if (done != m_done)
        m_lastMoveMs = now;
    m_done = done;
    m_total = total;
    const qint64 interval = m_terminal ? kTerminalIntervalMs : kLineIntervalMs;
    if (m_lastShownMs >= 0 && now - m_lastShownMs < interval)
        return;
    m_lastShownMs = now;
    show(done, total);
}

void TransferProgress::tick()
{
    const qint64 now = m_clock();
    const qint64 interval = m_terminal ? kTerminalIntervalMs : kLineIntervalMs;
    if (m_lastShownMs >= 0 && now - m_lastShownMs < interval)
        return;
    m_lastShownMs = now;
    show(m_done, m_total);
}

void TransferProgress::finish(qint64 done, qint64 total)
{
    m_done = done;
    // A line once written stays in a log: the final state, when already shown, is not repeated.
    if (m_terminal || done != m_shownDone || total != m_shownTotal) {
        // The whole transfer's average, not the last seconds' (nor a stall at the very end).
        const qint64 elapsed = m_clock();
        show(done, total, elapsed > 0 ? double(done) * 1000 / double(elapsed) : 0);
    }
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

void TransferProgress::show(qint64 done, qint64 total, std::optional<double> rate)
{
    const qint64 now = m_clock();
    while (!m_samples.isEmpty() && now - m_samples.constFirst().first > kRateWindowMs)
        m_samples.removeFirst();
    const bool stalled = !rate && now - m_lastMoveMs >= kStalledAfterMs;
    const QString text = describe(done, total, rate ? *rate : recentRate(now), stalled);
    m_samples.append({now, done});
    m_shownDone = done;
    m_shownTotal = total;
    if (!m_terminal) {
        m_stream << "progress: " << text << '\n';
        m_stream.flush();
        return;
    }
    QString bar;
    if (total > 0) {
        const int filled = int(std::min<qint64>(kBarWidth, done * kBarWidth / total));
        bar = QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.')) +
              QStringLiteral("] ");
    }
    const int width = Terminal::width();
    QString line = fitLine(bar, text, width);
    // Blank out what a longer previous line left behind, within the terminal's width.
    const int shown = int(line.size());
    const int blank = std::min(m_lastWidth, width - 1) - shown;
    if (blank > 0)
        line += QString(blank, QLatin1Char(' '));
    m_lastWidth = shown;
    m_stream << '\r' << line;
    m_stream.flush();
}

} // namespace ORVIK
