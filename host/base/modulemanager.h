#pragma once

#include "host/base/module.h"
#include "host/base/orvikbase_export.h"

#include <vector>

namespace ORVIK {

// The process-wide registry of modules, keyed by module name.
class ORVIKBASE_EXPORT ModuleManager
{
public:
    // Keeps its own copy of the record; a module of the same name is replaced.
    static void AddModule(const Module &module);
    // The registry's copy, or null. Valid until that module is added again or removed.
    static const Module *GetModule(const StringView &name);
    static std::vector<String> ModuleNames();
    static void RemoveModule(const StringView &name);
};

} // namespace ORVIK
