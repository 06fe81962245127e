#pragma once

#include "apps/orvik/ntp/timesurvey.h"

#include <vector>

namespace ORVIK {

// What orvik learns, with a datagram of its own, of the addresses that gave no answer. A time request's
// socket is not connected, so an ICMP error sent back to it is lost (Linux) or told only as "an error";
// a connected socket of the system's own hears it: port unreachable as a refused connection, host or
// network unreachable as such. The datagram is empty, which no NTP server takes for a request.
namespace ReachProbe {

// The module's text for a socket error, which says nothing of its kind.
QString socketErrorText();

// What one address told the probe, as the end of its status line; empty when it told nothing (a
// server that is there but silent, or a reply that was lost).
using Finding = QString;

// Probes every address at once and waits up to waitMs for what comes back; blocks meanwhile, in an
// event loop of its own. The sockets are closed when it returns.
std::vector<Finding> run(const std::vector<TimeServerAddress> &addresses, int waitMs);

// Adds the findings to the silent reports and to those whose request failed with the bare socket
// error: the kind of failure first, as every command says it, then the module's own text.
void describe(std::vector<AddressReport> &reports, int waitMs);

} // namespace ReachProbe

} // namespace ORVIK
