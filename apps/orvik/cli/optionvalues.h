#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace ORVIK {

// The forms that a number given on the command line takes, the same in every command.
namespace OptionValues {

// A port: a whole number from 1 to 65535.
std::optional<uint16_t> port(const QString &text);
// Seconds, fractions allowed ("0.5", "2"), above 0 and at most maxSeconds; returned in whole
// milliseconds, at least 1.
std::optional<qint64> secondsAsMs(const QString &text, double maxSeconds);
// A whole number from minimum to maximum, in decimal digits.
std::optional<qint64> wholeNumber(const QString &text, qint64 minimum, qint64 maximum);
// A limit as people write it in a message: "2000000", "0.5", never "2e+06".
QString plain(double value);

} // namespace OptionValues

} // namespace ORVIK
