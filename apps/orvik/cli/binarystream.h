#pragma once

#include <QtGlobal>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace ORVIK {

// The descriptor of a standard stream, set to pass bytes as they are: on Windows without the text
// mode's CRLF translation, which would change a body on its way.
inline int binaryDescriptor(std::FILE *stream)
{
#ifdef Q_OS_WIN
    const int descriptor = _fileno(stream);
    _setmode(descriptor, _O_BINARY);
    return descriptor;
#else
    return fileno(stream);
#endif
}

} // namespace ORVIK
