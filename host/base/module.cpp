#include "host/base/module.h"

namespace ORVIK {

Module::Module(const StringView &moduleName) : m_name(moduleName)
{}

bool Module::addHook(const String &hookName, HookFunction function)
{
    return hooks.emplace(hookName, function).second;
}

HookFunction Module::hook(const StringView &hookName) const
{
    const auto found = hooks.find(String(hookName));
    return found == hooks.end() ? nullptr : found->second;
}

} // namespace ORVIK
