#pragma once

#include <cstdint>

namespace ORVIK {

// The UDP port on which network-time replies arrive: declared to the host as the module's port
// resource, and the first local port that a time request binds.
constexpr uint16_t kNtpReceivePort = 42912;

} // namespace ORVIK
