#pragma once

#include <QByteArray>
#include <QString>

namespace ORVIK {

// The package that the update demo offers: a script that the system's installer step runs and that
// leaves a marker file, written first as marker + ".part" and then moved, so that the marker appears
// whole. One file per system (demopackage_unix.cpp, demopackage_win.cpp).
struct DemoPackage
{
    QString fileName;
    QByteArray content;

    static DemoPackage leavingMarker(const QString &marker);
};

} // namespace ORVIK
