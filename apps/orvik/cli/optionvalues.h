#pragma once

#include <QCommandLineParser>
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
// The first option given more than once ("public-key"), or an empty text. Where the last of two
// would silently win, a command refuses instead.
QString repeatedOption(const QCommandLineParser &parser);

} // namespace OptionValues

} // namespace ORVIK
