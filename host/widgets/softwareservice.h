#pragma once

#include "host/widgets/orvikwidgets_export.h"

namespace ORVIK {

// Marks a class as a service that the host can look up; it has no operations.
class ORVIKWIDGETS_EXPORT SoftwareService
{
public:
    SoftwareService();
};

} // namespace ORVIK
