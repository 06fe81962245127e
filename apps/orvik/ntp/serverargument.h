#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace ORVIK {

// One server as `orvik time` takes it on the command line: HOST, HOST:PORT, an IPv6 address, or
// [IPv6]:PORT. HOST is a name or an address; without a port of its own, --port applies.
struct ServerArgument
{
    QString host; // brackets removed
    std::optional<uint16_t> port;

    // The argument, or nothing with `error` saying why.
    static std::optional<ServerArgument> parse(const QString &text, QString *error);
};

} // namespace ORVIK
