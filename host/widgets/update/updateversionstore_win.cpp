#include "host/widgets/update/updateversionstore.h"

#include <QStandardPaths>

namespace ORVIK {

QString UpdateVersionStore::StateFolder()
{
    QString folder = qEnvironmentVariable("LOCALAPPDATA");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return folder;
}

} // namespace ORVIK
