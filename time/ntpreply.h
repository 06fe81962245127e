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
};

} // namespace ORVIK

Q_DECLARE_METATYPE(ORVIK::NtpReply)
Q_DECLARE_METATYPE(ORVIK::Time)
