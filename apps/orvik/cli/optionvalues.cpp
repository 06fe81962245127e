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

QString repeatedOption(const QCommandLineParser &parser)
{
    QStringList seen;
    for (const QString &name : parser.optionNames()) {
        if (seen.contains(name))
            return name;
        seen.append(name);
    }
    return QString();
}

} // namespace ORVIK::OptionValues
