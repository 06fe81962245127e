#pragma once

#include "host/base/orviktime.h"
#include "time/ntppacket.h"

#include <QMetaType>

#include <cstdint>

namespace ORVIK {

// One received NTP datagram: its first NtpPacket::kSize bytes and the local time it was read.
struct NtpReply
{
    uint8_t packet[NtpPacket::kSize];
    Time receiveTime; // -1 until a datagram is stored

    // Stores what one read of a datagram gave: size bytes at data (a failed read's -1 included), read at
    // readTime. Bytes beyond the packet are dropped and missing ones are 0. Less than a header is no
    // reply: false, and nothing changes.
    bool store(const char *data, int64_t size, Time readTime) noexcept;
    // The stored packet's origin and transmit timestamps; -1 before a datagram is stored.
    Time originTime() const noexcept;
    Time transmitTime() const noexcept;
};

} // namespace ORVIK

Q_DECLARE_METATYPE(ORVIK::NtpReply)
Q_DECLARE_METATYPE(ORVIK::Time)
