#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"

#include <cstdint>

namespace ORVIK {

enum class DependencyType : int32_t {
    none = 0,
    sharedLibrary = 1, // a library file that must be shipped beside the module
};

// Values of a dependency's operating-system, configuration and platform fields.
struct OSType
{
    static constexpr StringView all{"all"};
    static constexpr StringView windows{"windows"};
    static constexpr StringView linux_{"linux"};
};
struct ConfigType
{
    static constexpr StringView all{"all"};
    static constexpr StringView debug{"debug"};
    static constexpr StringView release{"release"};
};
struct PlatformType
{
    static constexpr StringView all{"all"};
    static constexpr StringView x64{"x64"};
};

// One run-time file that a module needs, for one system, build configuration and platform.
class ORVIKBASE_EXPORT ModuleDependency
{
public:
    ModuleDependency(DependencyType type, const StringView &file, const StringView &os, const StringView &config,
                     const StringView &platform);
    ModuleDependency(const ModuleDependency &) = default;
    ModuleDependency(ModuleDependency &&) noexcept = default;
    ModuleDependency &operator=(const ModuleDependency &) = default;
    ModuleDependency &operator=(ModuleDependency &&) noexcept = default;
    ~ModuleDependency();

    DependencyType type() const noexcept { return m_type; }
    const String &file() const noexcept { return m_file; }
    const String &os() const noexcept { return m_os; }
    const String &config() const noexcept { return m_config; }
    const String &platform() const noexcept { return m_platform; }

private:
    DependencyType m_type;
    String m_file;
    String m_os;
    String m_config;
    String m_platform;
};

} // namespace ORVIK
