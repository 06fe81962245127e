#include "time/ntptimestamp.h"

#include <QTest>

using ORVIK::NtpTimestamp;
using ORVIK::Time;

namespace {

constexpr qint64 kMs = 1000000; // nanoseconds
constexpr qint64 kNtpEpochNs = -2208988800000000000;
constexpr quint32 kUnixEpochSeconds = 0x83AA7E80; // 1970-01-01 in NTP seconds

} // namespace

class tst_NtpTimestamp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void toTime_data();
    void toTime();
    void fromTime_data();
    void fromTime();
    void everyMillisecondReadsBackAsItselfOrOneLess();
};

void tst_NtpTimestamp::toTime_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<quint32>("fraction");
    QTest::addColumn<qint64>("nanoseconds");

    QTest::newRow("unix-epoch-plus-half-second") << kUnixEpochSeconds << 0x80000000u << qint64(500000000);
    QTest::newRow("all-zero-is-the-ntp-epoch") << 0u << 0u << kNtpEpochNs;
    QTest::newRow("fraction-of-123ms-reads-as-122ms") << kUnixEpochSeconds << 0x1F7CED91u << 122 * kMs;
    QTest::newRow("one-step-more-reads-as-123ms") << kUnixEpochSeconds << 0x1F7CED92u << 123 * kMs;
    QTest::newRow("just-below-one-ms-rounds-down") << kUnixEpochSeconds << 4294967u << qint64(0);
    QTest::newRow("first-fraction-of-one-ms") << kUnixEpochSeconds << 4294968u << kMs;
    QTest::newRow("largest-fraction-is-999ms") << kUnixEpochSeconds << 0xFFFFFFFFu << 999 * kMs;
    QTest::newRow("second-before-1970") << kUnixEpochSeconds - 1 << 0u << -1000 * kMs;
    QTest::newRow("end-of-era-0") << 0xFFFFFFFFu << 0xFFFFFFFFu
                                  << (qint64(0xFFFFFFFF) * 1000 + 999) * kMs + kNtpEpochNs;
    QTest::newRow("2026-12-05-17:00:00.250")
        << quint32(kUnixEpochSeconds + 1796490000u) << 0x40000000u << (qint64(1796490000) * 1000 + 250) * kMs;
}

void tst_NtpTimestamp::toTime()
{
    QFETCH(quint32, seconds);
    QFETCH(quint32, fraction);
    QFETCH(qint64, nanoseconds);
    QCOMPARE(NtpTimestamp(seconds, fraction).toTime().nanoseconds(), nanoseconds);
}

void tst_NtpTimestamp::fromTime_data()
{
    QTest::addColumn<qint64>("nanoseconds");
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<quint32>("fraction");

    QTest::newRow("unix-epoch") << qint64(0) << kUnixEpochSeconds << 0u;
    QTest::newRow("500ms-is-half") << 500 * kMs << kUnixEpochSeconds << 0x80000000u;
    QTest::newRow("123ms") << 123 * kMs << kUnixEpochSeconds << 0x1F7CED91u;
    QTest::newRow("sub-millisecond-part-is-cut") << 123 * kMs + 999999 << kUnixEpochSeconds << 0x1F7CED91u;
    QTest::newRow("999ms") << 999 * kMs << kUnixEpochSeconds << 0xFFBE76C8u;
    QTest::newRow("1ms") << kMs << kUnixEpochSeconds << 4294967u;
    QTest::newRow("whole-second-carries") << 1000 * kMs << kUnixEpochSeconds + 1 << 0u;
    QTest::newRow("2026-12-05-17:00:00.250")
        << (qint64(1796490000) * 1000 + 250) * kMs << quint32(kUnixEpochSeconds + 1796490000u) << 0x40000000u;
    // The NTP seconds field wraps in February 2036 (era 1 starts at 0 again).
    QTest::newRow("era-1-wraps-the-seconds") << (qint64(0x100000000) - kUnixEpochSeconds + 5) * 1000 * kMs << 5u << 0u;
}

void tst_NtpTimestamp::fromTime()
{
    QFETCH(qint64, nanoseconds);
    QFETCH(quint32, seconds);
    QFETCH(quint32, fraction);
    const NtpTimestamp stamp = NtpTimestamp::fromTime(Time(nanoseconds));
    QCOMPARE(stamp.seconds(), seconds);
    QCOMPARE(stamp.fraction(), fraction);
}

void tst_NtpTimestamp::everyMillisecondReadsBackAsItselfOrOneLess()
{
    // Both directions truncate, so a round trip may lose at most one millisecond, never gain one.
    const qint64 base = qint64(1796490000) * 1000;
    int lost = 0;
    for (qint64 ms = 0; ms < 1000; ++ms) {
        const qint64 back = NtpTimestamp::fromTime(Time((base + ms) * kMs)).toTime().nanoseconds() / kMs - base;
        QVERIFY2(back == ms || back == ms - 1, qPrintable(QStringLiteral("%1 ms came back as %2").arg(ms).arg(back)));
        lost += back != ms;
    }
    QVERIFY(lost > 0); // 123 ms is one of them
    QCOMPARE(NtpTimestamp::fromTime(Time((base + 123) * kMs)).toTime().nanoseconds(), (base + 122) * kMs);
}

QTEST_APPLESS_MAIN(tst_NtpTimestamp)
#include "tst_ntptimestamp.moc"
