#pragma once

#include <QByteArray>
#include <QString>

// Points the host's state folder (the verified versions) at a test's own folder: $XDG_STATE_HOME
// on Linux, %LOCALAPPDATA% on Windows.
inline void setStateHome(const QString &folder)
{
#ifdef Q_OS_WIN
    qputenv("LOCALAPPDATA", folder.toUtf8());
#else
    qputenv("XDG_STATE_HOME", folder.toUtf8());
#endif
}
