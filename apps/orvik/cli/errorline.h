#pragma once

#include <QString>
#include <QTextStream>

namespace ORVIK {

// How orvik says what went wrong: "orvik: " and the text on one line of standard error, with every
// character that could move the cursor or pass for a line of its own made printable. The one place
// that writes the prefix: a build test refuses it typed anywhere else.
namespace ErrorLine {

// What stands before every message, for the demo that reads orvik's own lines back.
QString prefix();
// The whole line without its line end, for the few places that have no stream of their own to write
// it to (a message handler that ends the process).
QString line(const QString &text);
void print(QTextStream &err, const QString &text);

} // namespace ErrorLine

} // namespace ORVIK
