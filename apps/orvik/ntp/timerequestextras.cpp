#include "apps/orvik/ntp/timerequestextras.h"

#include "host/widgets/timerequest.h"

#include <QVariant>

namespace ORVIK {

namespace {

int64_t readingOf(const TimeRequest &request, const char *name)
{
    bool ok = false;
    const qint64 reading = request.property(name).toLongLong(&ok);
    return ok ? reading : -1;
}

} // namespace

TimeRequestExtras TimeRequestExtras::of(const TimeRequest &request)
{
    TimeRequestExtras extras;
    const QVariant datagram = request.property("replyDatagram");
    if (datagram.metaType() == QMetaType::fromType<QByteArray>())
        extras.replyDatagram = datagram.toByteArray();
    extras.stampClockReading = readingOf(request, "stampClockReading");
    extras.sentClockReading = readingOf(request, "sentClockReading");
    extras.failureReason = request.property("failureReason").toString();
    return extras;
}

} // namespace ORVIK
