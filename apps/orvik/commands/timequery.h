#pragma once

#include "apps/orvik/commandcontext.h"

#include <QString>

#include <cstdint>

namespace ORVIK {

constexpr uint16_t kDefaultNtpPort = 123;
constexpr double kDefaultTimeoutSeconds = 5;

// One question to an NTP server, as `orvik time` and the demo ask it.
struct TimeQuery
{
    QString host;
    uint16_t port = kDefaultNtpPort;
    int timeoutMs = static_cast<int>(kDefaultTimeoutSeconds * 1000);
};

// Asks through the installed access manager and prints the answer, or says on err why there is none.
int runTimeQuery(CommandContext &context, const TimeQuery &query);

} // namespace ORVIK
