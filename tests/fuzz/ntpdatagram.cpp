// A received datagram of any size to the stored reply and the three times a host reads.
#include "tests/fuzz/fuzzcheck.h"
#include "time/ntpreply.h"
#include "time/ntptimestamp.h"

#include <cstring>

using namespace ORVIK;

namespace {

// A time read from a timestamp holds whole milliseconds. Written back and read again it keeps its
// second and loses at most the one millisecond that truncating both ways costs.
void checkTimestampTime(const NtpReply &reply, int offset, Time time)
{
    const NtpTimestamp timestamp = NtpTimestamp::read(reply.packet + offset);
    FUZZ_CHECK(time.isSet() && time.nanoseconds() % 1000000 == 0);
    if (time.nanoseconds() < 0)
        return; // before 1970 a time does not convert back: it is taken as unsigned
    const NtpTimestamp written = NtpTimestamp::fromTime(time);
    const int64_t lost = time.nanoseconds() - written.toTime().nanoseconds();
    FUZZ_CHECK(written.seconds() == timestamp.seconds() && (lost == 0 || lost == 1000000));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static NtpReply last; // like the client's, it lives across datagrams
    const NtpReply before = last;
    const Time readTime(static_cast<int64_t>(size) * 1000 + 7);
    const bool stored = last.store(reinterpret_cast<const char *>(data), static_cast<int64_t>(size), readTime);

    FUZZ_CHECK(stored == (size >= NtpPacket::kHeaderSize));
    if (!stored) {
        FUZZ_CHECK(last.receiveTime == before.receiveTime &&
                   (!before.receiveTime.isSet() || std::memcmp(last.packet, before.packet, sizeof last.packet) == 0));
        FUZZ_CHECK(last.receiveTime.isSet() || (!last.originTime().isSet() && !last.transmitTime().isSet()));
        return 0;
    }
    FUZZ_CHECK(last.receiveTime == readTime);
    for (size_t i = 0; i < NtpPacket::kSize; ++i)
        FUZZ_CHECK(last.packet[i] == (i < size ? data[i] : 0));
    checkTimestampTime(last, NtpPacket::kOriginOffset, last.originTime());
    checkTimestampTime(last, NtpPacket::kTransmitOffset, last.transmitTime());
    return 0;
}
