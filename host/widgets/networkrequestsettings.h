#pragma once

#include "host/base/orvikstring.h"

#include <cstdint>

namespace ORVIK {

// The host's description of one web request.
struct NetworkRequestSettings
{
    static constexpr uint16_t kNoPort = 65535;

    String url;
    String username; // empty: none
    String password; // empty: none
    uint16_t port = kNoPort;
};

} // namespace ORVIK
