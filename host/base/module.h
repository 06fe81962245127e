#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"
#include "host/base/translatedstring.h"

#include <cstdint>
#include <unordered_map>

namespace ORVIK {

// The address of a hook. Each hook has the signature that belongs to its name;
// the caller casts the address to it before calling.
using HookFunction = void (*)();
using HookTable = std::unordered_map<String, HookFunction, StringHash>;

// The host's record of one loaded module.
class ORVIKBASE_EXPORT Module
{
public:
    explicit Module(const StringView &moduleName);

    const String &name() const noexcept { return m_name; }
    // Adds a hook unless one of that name exists; returns whether it was added.
    bool addHook(const String &hookName, HookFunction function);
    HookFunction hook(const StringView &hookName) const;

    HookTable hooks;
    String version;
    TranslatedString display_name;
    String icon;
    TranslatedString description;
    int32_t module_kind = 0;

private:
    String m_name;
};

} // namespace ORVIK
