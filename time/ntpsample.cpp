#include "time/ntpsample.h"

#include "time/ntptimestamp.h"

#include <QDateTime>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <optional>

namespace ORVIK {

namespace {

constexpr int64_t kNanosecondsPerMicrosecond = 1000;
constexpr int64_t kNanosecondsPerMillisecond = 1000000;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

NtpTimestamp timestampAt(const NtpExchange &exchange, int offset)
{
    return NtpTimestamp::read(exchange.packet.data() + offset);
}

// The server's clock resolution, 2^precision seconds, in whole nanoseconds rounded up.
int64_t resolution(int8_t precision)
{
    return static_cast<int64_t>(std::ceil(std::ldexp(double(kNanosecondsPerSecond), std::min<int>(precision, 30))));
}

NtpVerdict reject(NtpVerdict::Kind kind, const QString &reason)
{
    NtpVerdict verdict;
    verdict.kind = kind;
    verdict.reason = reason;
    return verdict;
}

int64_t nearestMicrosecond(int64_t nanoseconds)
{
    return floorDivide(nanoseconds + kNanosecondsPerMicrosecond / 2, kNanosecondsPerMicrosecond);
}

} // namespace

NtpSampleMicroseconds inMicroseconds(const NtpSample &sample)
{
    NtpSampleMicroseconds shown;
    shown.offset = nearestMicrosecond(sample.offset);
    const int64_t rounding = std::abs(sample.offset - shown.offset * kNanosecondsPerMicrosecond);
    shown.bound = floorDivide(sample.bound + rounding + kNanosecondsPerMicrosecond - 1, kNanosecondsPerMicrosecond);
    shown.delay = nearestMicrosecond(sample.delay);
    return shown;
}

QString referenceLetters(uint32_t referenceId)
{
    QString letters;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char letter = static_cast<char>((referenceId >> shift) & 0xFF);
        if (letter > ' ' && letter < 0x7F)
            letters += QLatin1Char(letter);
    }
    return letters;
}

QString isoTime(int64_t nanoseconds)
{
    return QDateTime::fromMSecsSinceEpoch(floorDivide(nanoseconds, kNanosecondsPerMillisecond), Qt::UTC)
        .toString(Qt::ISODateWithMs);
}

NtpVerdict judgeExchange(const NtpExchange &exchange)
{
    using Kind = NtpVerdict::Kind;
    const uint8_t first = exchange.packet[0];
    const int leap = NtpPacket::leapOf(first);
    const int mode = NtpPacket::modeOf(first);
    const int stratum = exchange.packet[NtpPacket::kStratumOffset];
    const uint32_t referenceId = qFromBigEndian<quint32>(exchange.packet.data() + NtpPacket::kReferenceIdOffset);
    const int64_t t4 = exchange.received;

    if (mode != NtpPacket::kServerMode)
        return reject(Kind::Rejected, QStringLiteral("it is not a server reply (mode %1)").arg(mode));
    // Anyone can send to our port: only a reply that echoes our own request's stamp answers it. The
    // stamp is a clock reading taken after sentAfter and before the reply came back.
    const NtpTimestamp origin = timestampAt(exchange, NtpPacket::kOriginOffset);
    const std::optional<int64_t> stamp = origin.wholeMillisecond(t4);
    const int64_t earliest = floorDivide(exchange.sentAfter, kNanosecondsPerMillisecond) * kNanosecondsPerMillisecond;
    const int64_t latest = std::min(exchange.sentBefore, t4);
    if (!stamp || *stamp < earliest || *stamp > latest)
        return reject(Kind::Stray, QStringLiteral("its origin time %1 is not the stamp of our request, sent "
                                                  "between %2 and %3, so it does not answer it")
                                       .arg(isoTime(origin.toNanoseconds(t4)), isoTime(earliest), isoTime(latest)));
    if (stratum == 0)
        return reject(Kind::KissOfDeath, QStringLiteral("kiss-o'-death %1").arg(referenceLetters(referenceId)));
    if (leap == NtpPacket::kLeapUnsynchronised)
        return reject(Kind::Rejected, QStringLiteral("the server is not synchronised (leap indicator 3)"));
    if (stratum >= NtpPacket::kStratumUnsynchronised)
        return reject(Kind::Rejected, QStringLiteral("the server is not synchronised (stratum %1)").arg(stratum));
    const NtpTimestamp transmit = timestampAt(exchange, NtpPacket::kTransmitOffset);
    if (transmit.bits() == 0)
        return reject(Kind::Rejected, QStringLiteral("its transmit time is zero"));

    const int64_t t2 = timestampAt(exchange, NtpPacket::kReceiveOffset).toNanoseconds(t4);
    const int64_t t3 = transmit.toNanoseconds(t4);
    // The send time t1 lies after both the stamp and our reading before it; it is below the end of the
    // stamp's millisecond, below the moment we saw the request gone, and a reply cannot come back before
    // its request left plus the server's hold time.
    const int64_t lower = std::max(exchange.sentAfter, *stamp);
    const int64_t hold = t3 - t2;
    // The timestamps' resolution: the server's precision, and 1 ns for rounding t2 and t3 down.
    const int64_t slack = resolution(static_cast<int8_t>(exchange.packet[NtpPacket::kPrecisionOffset])) + 1;
    if (hold < 0 || hold > t4 - lower + slack)
        return reject(Kind::Rejected, QStringLiteral("its receive and transmit times do not fit in our round trip"));
    const int64_t upper =
        std::max(lower, std::min({*stamp + kNanosecondsPerMillisecond, exchange.sentBefore, t4 - hold}));
    const int64_t t1 = lower + (upper - lower) / 2;

    NtpVerdict verdict;
    verdict.kind = Kind::Accepted;
    NtpSample &sample = verdict.sample;
    sample.leap = leap;
    sample.stratum = stratum;
    sample.referenceId = referenceId;
    sample.transmit = t3;
    sample.offset = ((t2 - t1) + (t3 - t4)) / 2;
    sample.delay = (t4 - t1) - hold;
    // Whatever the paths' delays, the server read t2 after our request left (after `lower`) and t3
    // before the reply arrived (before t4): the offset lies in [t3 - t4, t2 - lower], widened by the slack.
    sample.bound = std::max((t2 - lower) - sample.offset, sample.offset - (t3 - t4)) + slack;
    return verdict;
}

} // namespace ORVIK
