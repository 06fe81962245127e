#include "host/base/modulemanager.h"

#include <algorithm>
#include <map>
#include <memory>

namespace ORVIK {

namespace {

std::map<String, std::unique_ptr<Module>> &registry()
{
    static std::map<String, std::unique_ptr<Module>> modules;
    return modules;
}

} // namespace

void ModuleManager::AddModule(const Module &module)
{
    registry()[module.name()] = std::make_unique<Module>(module);
}

const Module *ModuleManager::GetModule(const StringView &name)
{
    const auto found = registry().find(String(name));
    return found == registry().end() ? nullptr : found->second.get();
}

std::vector<String> ModuleManager::ModuleNames()
{
    std::vector<String> names;
    for (const auto &entry : registry())
        names.push_back(entry.first);
    return names;
}

void ModuleManager::RemoveModule(const StringView &name)
{
    registry().erase(String(name));
}

} // namespace ORVIK
