#pragma once

#include <QString>
#include <QUrl>

namespace ORVIK {

// Texts from the command line or the network, made fit to print on a terminal or in a log.
namespace SafeText {

// The address without its password (the user name stays: it says who was asked for).
QString address(const QUrl &url);
// Control characters (C0 with line ends and escape, DEL, C1: they could move the cursor or rewrite
// the terminal's title), format characters (Unicode's Cf: the bidirectional controls, zero-width
// characters, the byte-order mark, tag characters), a lone half of a surrogate pair and the line and
// paragraph separators each as one '?', so that no text can pass for a line of orvik's own or hide
// what it says. For a line's text, not orvik's line ends.
QString printable(const QString &text);

} // namespace SafeText

} // namespace ORVIK
