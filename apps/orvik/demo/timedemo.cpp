#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/commands/timequery.h"
#include "apps/orvik/demo/demosteps.h"
#include "loopback/ntpresponder.h"

namespace ORVIK {

int demoTime(CommandContext &context)
{
    NtpResponder responder;
    if (!responder.listen(QHostAddress(QHostAddress::LocalHost))) {
        ErrorLine::print(context.err,
                         QStringLiteral("cannot start the loopback NTP responder: ") + responder.errorString());
        return ExitFailure;
    }
    context.out << "NTP responder on " << responder.address().toString() << " port " << responder.port() << Qt::endl;
    TimeQuery query;
    query.servers << ServerArgument{responder.address().toString(), responder.port()};
    query.samples = 1; // a second one would wait 2 s, as a server may ask
    return runTimeQuery(context, query);
}

} // namespace ORVIK
