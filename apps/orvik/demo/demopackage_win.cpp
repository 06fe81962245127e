#include "apps/orvik/demo/demopackage.h"

#include <QDir>

namespace ORVIK {

// A batch script, which the installer step runs through the command interpreter.
DemoPackage DemoPackage::leavingMarker(const QString &marker)
{
    const QByteArray nativeMarker = QDir::toNativeSeparators(marker).toLocal8Bit();
    return {QStringLiteral("orvik-demo-1.1.0.cmd"), "@echo off\r\necho orvik demo 1.1.0 installed> \"" + nativeMarker +
                                                        ".part\"\r\nmove /y \"" + nativeMarker + ".part\" \"" +
                                                        nativeMarker + "\" >nul\r\n"};
}

} // namespace ORVIK
