#pragma once

#include <QByteArray>
#include <QString>

namespace ORVIK {

// The bytes of a network name given on the command line, as Qt decoded it. Windows gives the
// command line in UTF-16, whatever the ANSI code page: the name is its UTF-8, as networks name
// themselves. Elsewhere the name's bytes are those that the command line gave. One file per system
// implements it.
QByteArray ssidArgument(const QString &value);

} // namespace ORVIK
