#include "apps/orvik/cli/optionvalues.h"

#include <algorithm>
#include <cmath>

namespace ORVIK::OptionValues {

std::optional<uint16_t> port(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return std::nullopt;
    return uint16_t(value);
}

std::optional<qint64> secondsAsMs(const QString &text, double maxSeconds)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    // The comparisons also refuse NaN.
    if (!ok || !(seconds > 0) || !(seconds <= maxSeconds))
        return std::nullopt;
    return std::max<qint64>(1, std::llround(seconds * 1000));
}

std::optional<qint64> wholeNumber(const QString &text, qint64 minimum, qint64 maximum)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

QString plain(double value)
{
    QString text = QString::number(value, 'f', 6);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

} // namespace ORVIK::OptionValues
