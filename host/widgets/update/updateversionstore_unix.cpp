#include "host/widgets/update/updateversionstore.h"

#include <QDir>

namespace ORVIK {

QString UpdateVersionStore::StateFolder()
{
    QString folder = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative path is invalid there and ignored, as the XDG base directory rules say: it would
    // name a different file in every working folder.
    if (!QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.local/state");
    return folder;
}

} // namespace ORVIK
