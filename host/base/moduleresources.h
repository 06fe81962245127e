#pragma once

#include "host/base/buffer.h"
#include "host/base/moduledependency.h"
#include "host/base/moduleport.h"

namespace ORVIK {

// What a module declares that it needs: run-time files and network ports.
struct ModuleResources
{
    Buffer<ModuleDependency> dependencies;
    Buffer<ModulePort> ports;
};

} // namespace ORVIK
