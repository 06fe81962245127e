#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

namespace ORVIK {

// Shows how a transfer advances: a bar redrawn in place on a terminal, or a plain line at most
// once a second otherwise (logs, pipes), with bytes, rate and, when the total is known, ETA.
class TransferProgress
{
public:
    TransferProgress(QTextStream &stream, bool terminal);

    void update(qint64 done, qint64 total);
    // The last state, shown unless a plain line already showed it, and the end of the bar's line.
    void finish(qint64 done, qint64 total);
    // Ends a bar that stops without a final state (a failure), so the next line starts clean.
    void abandon();

    // "1.5 MiB / 4.0 MiB (37%), 2.3 MiB/s, ETA 2 s"; the total and ETA parts only when total >= 0.
    static QString describe(qint64 done, qint64 total, qint64 elapsedMs);
    static QString formatBytes(qint64 bytes);
    static QString formatDuration(qint64 seconds);

private:
    void show(qint64 done, qint64 total);

    QTextStream &m_stream;
    bool m_terminal;
    QElapsedTimer m_clock;
    qint64 m_lastShownMs = -1;
    qint64 m_shownDone = -1;
    qint64 m_shownTotal = -2; // -1 is an unknown total
    int m_lastWidth = 0;
};

} // namespace ORVIK
