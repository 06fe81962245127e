#include "host/widgets/networkaccessmanager.h"

namespace ORVIK {

NetworkAccessManager::NetworkAccessManager() = default;

} // namespace ORVIK
