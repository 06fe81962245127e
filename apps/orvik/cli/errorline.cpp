#include "apps/orvik/cli/errorline.h"

#include "apps/orvik/cli/safetext.h"

namespace ORVIK::ErrorLine {

void print(QTextStream &err, const QString &text)
{
    err << "orvik: " << SafeText::printable(text) << Qt::endl;
}

} // namespace ORVIK::ErrorLine
