#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace ORVIK {

class TimeRequest;

// The one place where orvik reads more from a time request than the TimeRequest interface gives. The
// interface has whole milliseconds and an error code that is always 0; the module's client also offers,
// as properties on its meta-object, the whole reply datagram, its clock readings around the send and a
// reason for a failure. orvik does not link the module, so it reads them by name.
struct TimeRequestExtras
{
    std::optional<QByteArray> replyDatagram; // nothing when the request does not offer it
    int64_t stampClockReading = -1;          // nanoseconds since 1970; -1: not offered or not yet sent
    int64_t sentClockReading = -1;
    QString failureReason; // empty when none is given

    static TimeRequestExtras of(const TimeRequest &request);
};

} // namespace ORVIK
