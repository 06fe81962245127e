#pragma once

#include "apps/orvik/commandcontext.h"
#include "apps/orvik/ntp/serverargument.h"

#include <QList>

#include <cstdint>

namespace ORVIK {

constexpr uint16_t kDefaultNtpPort = 123;
constexpr double kDefaultTimeoutSeconds = 5;
constexpr int kDefaultSamples = 4;

// What `orvik time` and the demo ask: every address of every server, combined into one answer.
struct TimeQuery
{
    QList<ServerArgument> servers;                                   // asked plainly
    QList<ServerArgument> ntsServers;                                // asked with NTS: their key-exchange addresses
    QString caFile;                                                  // also trusted for NTS key exchanges
    uint16_t port = kDefaultNtpPort;                                 // for servers that name no port of their own
    int timeoutMs = static_cast<int>(kDefaultTimeoutSeconds * 1000); // for each reply
    int samples = kDefaultSamples; // requests to each address, paced; the best answer of each counts
    bool json = false;             // one JSON document instead of the table
};

// Resolves the servers, asks each address through the installed access manager, prints what each said
// and the combined answer. 0 when a majority agrees, else 1 with one line on err that says why.
int runTimeQuery(CommandContext &context, const TimeQuery &query);

} // namespace ORVIK
