#pragma once

#include "host/base/orviktime.h"

#include <QMetaType>

#include <cstdint>

namespace ORVIK {

// One received NTP datagram: its first 68 bytes and the local time it was read.
struct NtpReply
{
    // The 48-byte header, then the optional key identifier (4 bytes) and message digest (16 bytes).
    static constexpr int kHeaderSize = 48;
    static constexpr int kPacketSize = 68;
    static constexpr int kOriginTimestampOffset = 24;
    static constexpr int kReceiveTimestampOffset = 32;
    static constexpr int kTransmitTimestampOffset = 40;

    uint8_t packet[kPacketSize];
    Time receiveTime; // -1 until a datagram is stored

    // Stores what one read of a datagram gave: size bytes at data (a failed read's -1 included), read at
    // readTime. Bytes beyond kPacketSize are dropped and missing ones are 0. Fewer than kHeaderSize bytes
    // are no reply: false, and nothing changes.
    bool store(const char *data, int64_t size, Time readTime) noexcept;
    // The stored packet's origin and transmit timestamps; -1 before a datagram is stored.
    Time originTime() const noexcept;
    Time transmitTime() const noexcept;
};

} // namespace ORVIK

Q_DECLARE_METATYPE(ORVIK::NtpReply)
Q_DECLARE_METATYPE(ORVIK::Time)
