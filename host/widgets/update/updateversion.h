#pragma once

#include "host/base/orvikstring.h"
#include "host/widgets/orvikwidgets_export.h"

namespace ORVIK {

// Version numbers as update descriptions and applications write them: one or more groups of
// decimal digits separated by dots ("2", "1.10.0").
class ORVIKWIDGETS_EXPORT UpdateVersion
{
public:
    static bool IsValid(const StringView &version);
    // Negative, zero or positive as a is older than, equal to or newer than b. Components compare
    // as numbers of any size; missing ones count as 0, so "1.2" equals "1.2.0". Both must be valid.
    static int Compare(const StringView &a, const StringView &b);
};

} // namespace ORVIK
