#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QDateTime>

namespace ORVIK {

// The rules of a download that continues after a cut and is polite to a busy server: which
// validator may go into If-Range, whether a 206 answers the range that was asked, how long a
// Retry-After asks to wait, and how long to back off before another try.
class ORVIKWIDGETS_EXPORT HttpResume
{
public:
    // Attempts at one address: the first and three more.
    static constexpr int kAttemptsPerAddress = 4;
    // The first back-off; each later one doubles it.
    static constexpr int kFirstBackoffMs = 1000;
    // Jitter: each back-off is spread by up to this share either way.
    static constexpr double kJitter = 0.25;
    // How far a Last-Modified must lie before the response's Date to count as a strong validator.
    static constexpr int kStrongDateMarginSeconds = 60;

    // What If-Range may carry for a response with these headers: the ETag when it is strong; else
    // the Last-Modified text when it is a strong validator (it lies at least a minute before the
    // response's Date); else nothing, and the download cannot be continued. A weak ETag never.
    static QByteArray IfRangeValidator(const QByteArray &etag, const QByteArray &lastModified, const QByteArray &date);

    // True for what IfRangeValidator can give: a strong entity tag of visible characters, or an
    // HTTP-date. What a kept file says is checked with this before it goes into a request.
    static bool IsValidator(const QByteArray &validator);

    // True when a 206's Content-Range ("bytes first-last/complete") is exactly the rest that was
    // asked for: from `offset` to the last byte of a representation of `size` bytes.
    static bool RangeFits(const QByteArray &contentRange, qint64 offset, qint64 size);

    // The wait a Retry-After asks for, in milliseconds from `now` (never negative): delay-seconds
    // or an HTTP-date. -1 when the value is neither.
    static qint64 RetryAfterMs(const QByteArray &value, const QDateTime &now);

    // The back-off before the retry-th retry (1, 2, 3, ...): 1 s, 2 s, 4 s, ..., spread by ±25 %
    // as `random` (uniform over all 32-bit values) says.
    static int BackoffMs(int retry, quint32 random);

    // An HTTP-date in any of the three forms HTTP allows; invalid otherwise.
    static QDateTime ParseHttpDate(const QByteArray &text);
};

} // namespace ORVIK
