#pragma once

#include "host/base/stringview.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QIcon>

class QStyle;

namespace ORVIK {

// Icons by the host's names: a few map onto the style's standard icons, every other
// name is looked up in the icon theme. Nothing is shipped or downloaded.
class ORVIKWIDGETS_EXPORT IconProvider
{
public:
    // A null icon for an empty name or a name that neither the style nor the theme knows.
    static QIcon icon(const StringView &name, const QStyle *style);
};

} // namespace ORVIK
