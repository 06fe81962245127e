#pragma once

#include <QString>

#include <cstddef>

namespace ORVIK {

// Files as orvik reaches them: why one that the user named cannot be reached, in the words every
// command uses, and what differs by system (fileaccess_unix.cpp, fileaccess_win.cpp).
namespace FileAccess {

// For a path that does not show as a file: "no such file", or, when a folder on the way may not be
// entered, "the folder F may not be entered (permission denied)".
QString whyUnreachable(const QString &path);

// Whether the system refuses to tell of the path because a folder on the way may not be entered.
bool accessDenied(const QString &path);
// Whether a folder that can be told of may still not be searched (no execute permission on POSIX;
// Windows refuses the folder itself instead).
bool searchDenied(const QString &folder);

// A name that stands for a stream rather than a file to replace: a device (NUL, CON, COM1, and
// \\.\ names on Windows) or a descriptor's path (/dev/fd/N, /dev/stdout, /proc/self/fd/N elsewhere).
bool namesSystemStream(const QString &fileName);
// The name under which the system opens such a stream. Qt gives an absolute Windows path the prefix
// \\?\ under which NUL is a file name like any other ("Invalid name"); the device namespace (\\.\)
// names the device itself, and CON written to is the console's output. Elsewhere the name itself.
QString nativeStreamName(const QString &fileName);

// C runtime descriptors: a duplicate (-1 and errno on failure), a close, and one read of up to
// `size` bytes that a signal does not cut short (-1 and errno on failure, 0 at the end).
int duplicateDescriptor(int descriptor);
void closeDescriptor(int descriptor);
qint64 readDescriptor(int descriptor, char *buffer, std::size_t size);

} // namespace FileAccess

} // namespace ORVIK
