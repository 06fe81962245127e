#pragma once

#include <QString>
#include <QUrl>

namespace ORVIK {

// Texts from the command line or the network, made fit to print on a terminal or in a log.
namespace SafeText {

// The address without its password (the user name stays: it says who was asked for).
QString address(const QUrl &url);
// Control characters (which could move the cursor or rewrite the terminal's title) as \xNN escapes.
QString printable(const QString &text);

} // namespace SafeText

} // namespace ORVIK
