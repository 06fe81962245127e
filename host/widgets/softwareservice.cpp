#include "host/widgets/softwareservice.h"

namespace ORVIK {

SoftwareService::SoftwareService() = default;

} // namespace ORVIK
