#include "time/ntptimestamp.h"

#include <QTest>

using ORVIK::NtpTimestamp;
using ORVIK::Time;

namespace {

constexpr qint64 kMs = 1000000; // nanoseconds
constexpr qint64 kNtpEpochNs = -2208988800000000000;

enum class Way { Both, Read, Write };

} // namespace

class tst_NtpTimestamp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void conversion_data();
    void conversion();
};

void tst_NtpTimestamp::conversion_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<quint32>("fraction");
    QTest::addColumn<qint64>("nanoseconds");
    QTest::addColumn<Way>("way");     // reading the timestamp gives the time, writing the time gives the timestamp
    const quint32 y1970 = 0x83AA7E80; // 1970-01-01 in NTP seconds
    QTest::newRow("half-a-second-after-1970") << y1970 << 0x80000000u << 500 * kMs << Way::Both;
    QTest::newRow("all-zero-is-the-ntp-epoch") << 0u << 0u << kNtpEpochNs << Way::Read;
    QTest::newRow("123ms-goes-out-as-0x1F7CED91") << y1970 << 0x1F7CED91u << 123 * kMs << Way::Write;
    QTest::newRow("0x1F7CED91-reads-back-as-122ms") << y1970 << 0x1F7CED91u << 122 * kMs << Way::Read;
    QTest::newRow("sub-millisecond-part-is-cut") << y1970 << 0x1F7CED91u << 123 * kMs + 999999 << Way::Write;
    QTest::newRow("largest-fraction-is-999ms") << y1970 << 0xFFFFFFFFu << 999 * kMs << Way::Read;
    QTest::newRow("whole-second-carries") << y1970 + 1 << 0u << 1000 * kMs << Way::Both;
    QTest::newRow("second-before-1970") << y1970 - 1 << 0u << -1000 * kMs << Way::Read;
    QTest::newRow("end-of-era-0") << 0xFFFFFFFFu << 0u << qint64(0xFFFFFFFF) * 1000 * kMs + kNtpEpochNs << Way::Read;
    // The NTP seconds field wraps in February 2036 (era 1 starts at 0 again).
    QTest::newRow("era-1-wraps-the-seconds")
        << 5u << 0u << (qint64(0x100000000) - y1970 + 5) * 1000 * kMs << Way::Write;
}

void tst_NtpTimestamp::conversion()
{
    QFETCH(quint32, seconds);
    QFETCH(quint32, fraction);
    QFETCH(qint64, nanoseconds);
    QFETCH(Way, way);
    if (way != Way::Write)
        QCOMPARE(NtpTimestamp(seconds, fraction).toTime().nanoseconds(), nanoseconds);
    if (way != Way::Read) {
        const NtpTimestamp stamp = NtpTimestamp::fromTime(Time(nanoseconds));
        QCOMPARE(stamp.seconds(), seconds);
        QCOMPARE(stamp.fraction(), fraction);
    }
}

QTEST_APPLESS_MAIN(tst_NtpTimestamp)
#include "tst_ntptimestamp.moc"
