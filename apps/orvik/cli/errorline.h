#pragma once

#include <QString>
#include <QTextStream>

namespace ORVIK {

// How orvik says what went wrong: "orvik: " and the text on one line of standard error, with every
// character that could move the cursor or pass for a line of its own made printable.
namespace ErrorLine {

void print(QTextStream &err, const QString &text);

} // namespace ErrorLine

} // namespace ORVIK
