#pragma once

#include "host/base/buffer.h"
#include "host/base/orvikstring.h"
#include "host/base/translatedstring.h"

#include <cstdint>

namespace ORVIK {

// A network port that a module uses, as the host's firewall set-up sees it.
struct ModulePort
{
    String id;
    TranslatedString name;
    TranslatedString description;
    Buffer<String> entries;
    String protocol = "tcp";
    String profile = "domain";
    String scope = "any";
    int32_t port = -1; // -1: no port
    bool flag = true;
};

} // namespace ORVIK
