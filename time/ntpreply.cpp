#include "time/ntpreply.h"

#include "time/ntptimestamp.h"

#include <algorithm>
#include <cstring>

namespace ORVIK {

namespace {

Time timestampAt(const NtpReply &reply, int offset) noexcept
{
    if (!reply.receiveTime.isSet())
        return Time(); // no packet stored yet
    return NtpTimestamp::read(reply.packet + offset).toTime();
}

} // namespace

bool NtpReply::store(const char *data, int64_t size, Time readTime) noexcept
{
    if (size < NtpPacket::kHeaderSize)
        return false;
    const auto kept = static_cast<std::size_t>(std::min<int64_t>(size, NtpPacket::kSize));
    std::memcpy(packet, data, kept);
    std::memset(packet + kept, 0, sizeof packet - kept);
    receiveTime = readTime;
    return true;
}

Time NtpReply::originTime() const noexcept
{
    return timestampAt(*this, NtpPacket::kOriginOffset);
}

Time NtpReply::transmitTime() const noexcept
{
    return timestampAt(*this, NtpPacket::kTransmitOffset);
}

} // namespace ORVIK
