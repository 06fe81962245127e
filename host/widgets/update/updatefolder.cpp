#include "host/widgets/update/updatefolder.h"
#include "host/widgets/update/updatefolder_p.h"

#include <QRandomGenerator>

namespace ORVIK {

namespace UpdateFolderNames {

QString randomSuffix()
{
    return QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, QLatin1Char('0'));
}

QString folderName(int attempt)
{
    return attempt == 0 ? QLatin1String(UpdateFolder::kName)
                        : QLatin1String(UpdateFolder::kName) + QLatin1Char('-') + randomSuffix();
}

QString candidateName(const QString &name, int attempt)
{
    if (attempt == 0)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype split = dot > 0 ? dot : name.size();
    return name.left(split) + QStringLiteral(" (%1)").arg(attempt + 1) + name.mid(split);
}

} // namespace UpdateFolderNames

} // namespace ORVIK
