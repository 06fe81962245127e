#include "host/base/orviktime.h"

#include <chrono>

namespace ORVIK {

Time Time::SystemTime() noexcept
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return Time(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}

} // namespace ORVIK
