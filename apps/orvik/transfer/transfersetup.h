#pragma once

#include "apps/orvik/commandcontext.h"
#include "apps/orvik/transfer/transferoptions.h"
#include "apps/orvik/transfer/transferrun.h"

namespace ORVIK {

// What `orvik get` and `orvik put` do alike before and after their transfer.
namespace TransferSetup {

// Makes the process trust --cacert's certificates and checks the proxy that applies; on a problem
// prints one line and returns false (a usage error).
bool prepare(const TransferOptions &options, QTextStream &err);
// Applies the time-outs and --insecure to the run.
void configure(TransferRun &run, const TransferOptions &options);
// Whether a progress display goes to standard error: not when silent, and not when the body goes to
// the same terminal, into which it would be drawn.
bool showsProgress(const TransferOptions &options, bool bodyToStandardOutput);
bool standardErrorIsTerminal();

} // namespace TransferSetup

} // namespace ORVIK
