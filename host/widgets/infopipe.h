#pragma once

#include "host/base/stringview.h"
#include "host/widgets/orvikwidgets_export.h"

namespace ORVIK {

// Where a host routes messages meant for the user besides its dialogs (a log window, a console).
class ORVIKWIDGETS_EXPORT InfoPipe
{
public:
    virtual ~InfoPipe();
    virtual void writeInfo(const StringView &message) = 0;
};

} // namespace ORVIK
