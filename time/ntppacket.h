#pragma once

#include <cstdint>

namespace ORVIK {

// The NTP packet layout (RFC 5905): a 48-byte header, then the optional key identifier (4 bytes) and
// message digest (16 bytes). Multi-byte fields are big-endian.
namespace NtpPacket {

constexpr int kHeaderSize = 48;
constexpr int kSize = 68; // what a reply record keeps of a datagram

constexpr int kStratumOffset = 1;
constexpr int kPrecisionOffset = 3; // signed: the clock's resolution is 2^precision s
constexpr int kReferenceIdOffset = 12;
constexpr int kOriginOffset = 24;
constexpr int kReceiveOffset = 32;
constexpr int kTransmitOffset = 40;

constexpr int kClientMode = 3;
constexpr int kServerMode = 4;
constexpr int kVersion = 4;
constexpr int kLeapUnsynchronised = 3;
constexpr int kStratumUnsynchronised = 16;

// Byte 0: leap indicator (2 bits), version (3 bits), mode (3 bits).
constexpr uint8_t firstByte(int leap, int mode) noexcept
{
    return static_cast<uint8_t>(leap << 6 | kVersion << 3 | mode);
}
constexpr int leapOf(uint8_t first) noexcept
{
    return first >> 6;
}
constexpr int modeOf(uint8_t first) noexcept
{
    return first & 0x07;
}

} // namespace NtpPacket

} // namespace ORVIK
