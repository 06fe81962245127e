#include "apps/orvik/demo/demonetsh.h"

namespace ORVIK {

DemoNetsh::DemoNetsh() : m_valid(true)
{}

DemoNetsh::~DemoNetsh() = default;

} // namespace ORVIK
