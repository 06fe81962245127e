#include "apps/orvik/demo/demopackage.h"

namespace ORVIK {

// A shell script, which the installer step runs as a program.
DemoPackage DemoPackage::leavingMarker(const QString &marker)
{
    const QByteArray quotedMarker = "'" + marker.toUtf8() + "'";
    return {QStringLiteral("orvik-demo-1.1.0.run"), "#!/bin/sh\necho 'orvik demo 1.1.0 installed' > " + quotedMarker +
                                                        ".part && mv " + quotedMarker + ".part " + quotedMarker + "\n"};
}

} // namespace ORVIK
