#pragma once

#include "host/base/orviktime.h"

#include <QMetaType>

#include <cstdint>

namespace ORVIK {

// One received NTP datagram: its first 68 bytes and the local time it was read.
struct NtpReply
{
    uint8_t packet[68];
    Time receiveTime; // -1 until a datagram is stored
};

} // namespace ORVIK

Q_DECLARE_METATYPE(ORVIK::NtpReply)
Q_DECLARE_METATYPE(ORVIK::Time)
