#include "host/widgets/infopipe.h"

namespace ORVIK {

InfoPipe::~InfoPipe() = default;

} // namespace ORVIK
