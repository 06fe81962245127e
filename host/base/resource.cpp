#include "host/base/resource.h"

namespace ORVIK {

ResourceBase::~ResourceBase() = default;

} // namespace ORVIK
