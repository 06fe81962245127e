#pragma once

#include "apps/orvik/commandcontext.h"

#include <QString>

#include <cstdint>

namespace ORVIK {

constexpr uint16_t kDefaultNtpPort = 123;
constexpr double kDefaultTimeoutSeconds = 5;
constexpr int kDefaultSamples = 8;

// One question to an NTP server, as `orvik time` and the demo ask it.
struct TimeQuery
{
    QString host;
    uint16_t port = kDefaultNtpPort;
    int timeoutMs = static_cast<int>(kDefaultTimeoutSeconds * 1000); // for each reply
    int samples = kDefaultSamples; // requests, one after another; the best answer is reported
};

// Asks through the installed access manager and prints the best answer, or says on err why there is none.
int runTimeQuery(CommandContext &context, const TimeQuery &query);

} // namespace ORVIK
