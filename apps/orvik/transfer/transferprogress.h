#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QString>
#include <QTextStream>

#include <functional>
#include <optional>

namespace ORVIK {

// Shows how a transfer advances: a bar redrawn in place on a terminal, fitted to its width at every
// draw, or a plain line at most once a second otherwise (logs, pipes), with bytes, the rate of the
// last seconds and, when the total is known, ETA. tick() redraws when nothing arrives, so the rate
// falls and "stalled" shows.
class TransferProgress
{
public:
    // Milliseconds since the transfer began.
    using Clock = std::function<qint64()>;

    // Without a clock, the time since construction.
    TransferProgress(QTextStream &stream, bool terminal, Clock clock = Clock());
    Q_DISABLE_COPY_MOVE(TransferProgress)

    void update(qint64 done, qint64 total);
    // Called about once a second: shows a transfer that has not moved since the last draw.
    void tick();
    // The last state with the whole transfer's average rate, shown unless a plain line already showed
    // it, and the end of the bar's line.
    void finish(qint64 done, qint64 total);
    // Ends a bar that stops without a final state (a failure), so the next line starts clean.
    void abandon();

    // "1.5 MiB / 4.0 MiB (37%), 2.3 MiB/s, ETA 2 s"; the total and ETA parts only when total >= 0;
    // the average rate over elapsedMs.
    static QString describe(qint64 done, qint64 total, qint64 elapsedMs);
    // The same with a given rate; stalled replaces rate and ETA with "stalled".
    static QString describe(qint64 done, qint64 total, double bytesPerSecond, bool stalled);
    // The bar and the text cut to fit a terminal `width` columns wide, one column left free so that
    // the cursor never wraps: the bar goes first, then the text's end.
    static QString fitLine(const QString &bar, const QString &text, int width);
    static QString formatBytes(qint64 bytes);
    static QString formatDuration(qint64 seconds);

private:
    // With a rate given, that rate instead of the recent one.
    void show(qint64 done, qint64 total, std::optional<double> rate = std::nullopt);
    double recentRate(qint64 now) const;

    QTextStream &m_stream;
    bool m_terminal;
    QElapsedTimer m_elapsed;
    Clock m_clock;
    qint64 m_lastShownMs = -1;
    qint64 m_shownDone = -1;
    qint64 m_shownTotal = -2; // -1 is an unknown total
    qint64 m_done = 0;
    qint64 m_total = -1;
    qint64 m_lastMoveMs = 0;
    QList<QPair<qint64, qint64>> m_samples; // (ms, done) of the last seconds
    int m_lastWidth = 0;
};

} // namespace ORVIK
