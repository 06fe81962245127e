#include "host/widgets/update/httpresume.h"

#include <QLocale>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cmath>

namespace ORVIK {

namespace {

// A decimal number of at most 18 digits, which always fits; -1 for anything else.
qint64 decimal(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

QByteArray HttpResume::IfRangeValidator(const QByteArray &etag, const QByteArray &lastModified, const QByteArray &date)
{
    const QByteArray tag = etag.trimmed();
    // A strong entity tag is a quoted string; "W/" marks a weak one, which If-Range must not carry.
    if (tag.startsWith('"'))
        return IsValidator(tag) ? tag : QByteArray();
    if (!tag.isEmpty())
        return QByteArray();
    const QDateTime modified = ParseHttpDate(lastModified);
    const QDateTime sent = ParseHttpDate(date);
    // A date is weak when the file may have changed twice within its second: only a modification
    // well before the response was sent makes it strong.
    if (modified.isValid() && sent.isValid() && modified.secsTo(sent) >= kStrongDateMarginSeconds)
        return lastModified.trimmed();
    return QByteArray();
}

bool HttpResume::IsValidator(const QByteArray &validator)
{
    if (validator.size() >= 2 && validator.size() <= 256 && validator.startsWith('"') && validator.endsWith('"')) {
        // etagc: visible characters but the quote, nothing that could end a header line.
        for (qsizetype i = 1; i + 1 < validator.size(); ++i) {
            const uchar c = uchar(validator.at(i));
            if (c < 0x21 || c == '"' || c > 0x7e)
                return false;
        }
        return true;
    }
    return validator.size() <= 64 && ParseHttpDate(validator).isValid() &&
           std::none_of(validator.cbegin(), validator.cend(),
                        [](char c) { return uchar(c) < 0x20 || uchar(c) > 0x7e; });
}

bool HttpResume::RangeFits(const QByteArray &contentRange, qint64 offset, qint64 size)
{
    static const QRegularExpression form(QStringLiteral("^bytes ([0-9]+)-([0-9]+)/([0-9]+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentRange.trimmed()));
    if (!match.hasMatch())
        return false;
    const qint64 first = decimal(match.captured(1).toLatin1());
    const qint64 last = decimal(match.captured(2).toLatin1());
    const qint64 complete = decimal(match.captured(3).toLatin1());
    return first == offset && complete == size && last == size - 1 && first <= last;
}

qint64 HttpResume::RetryAfterMs(const QByteArray &value, const QDateTime &now)
{
    const QByteArray text = value.trimmed();
    const qint64 seconds = decimal(text);
    if (seconds >= 0)
        return std::min<qint64>(seconds, qint64(1) << 40) * 1000;
    const QDateTime when = ParseHttpDate(text);
    if (!when.isValid())
        return -1;
    return std::max<qint64>(0, now.msecsTo(when));
}

int HttpResume::BackoffMs(int retry, quint32 random)
{
    const double base = double(kFirstBackoffMs) * std::ldexp(1.0, std::clamp(retry, 1, 16) - 1);
    // random / 2^32 is in [0, 1): the factor is in [1 - kJitter, 1 + kJitter).
    const double factor = 1.0 - kJitter + 2.0 * kJitter * (double(random) / 4294967296.0);
    return int(std::lround(base * factor));
}

QDateTime HttpResume::ParseHttpDate(const QByteArray &text)
{
    // The day's name is left out: it adds nothing, and a two-digit year would make it disagree.
    const QString date = QString::fromLatin1(text.simplified());
    const qsizetype comma = date.indexOf(QLatin1Char(','));
    const qsizetype space = date.indexOf(QLatin1Char(' '));
    const QString rest = comma > 0 ? date.mid(comma + 1).trimmed() : space > 0 ? date.mid(space + 1) : QString();
    // IMF-fixdate, then the obsolete RFC 850 and asctime forms that a recipient must still read.
    for (const char *format : {"dd MMM yyyy HH:mm:ss 'GMT'", "dd-MMM-yy HH:mm:ss 'GMT'", "MMM d HH:mm:ss yyyy"}) {
        const QDateTime parsed = QLocale::c().toDateTime(rest, QLatin1String(format));
        if (!parsed.isValid())
            continue;
        QDate day = parsed.date();
        // Two-digit years: read as in this century or the last, as the obsolete form meant them.
        if (day.year() < 1970)
            day = day.addYears(100);
        return QDateTime(day, parsed.time(), Qt::UTC);
    }
    return QDateTime();
}

} // namespace ORVIK
