#include "host/base/moduledependency.h"

namespace ORVIK {

ModuleDependency::ModuleDependency(DependencyType type, const StringView &file, const StringView &os,
                                   const StringView &config, const StringView &platform)
    : m_type(type), m_file(file), m_os(os), m_config(config), m_platform(platform)
{}

ModuleDependency::~ModuleDependency() = default;

} // namespace ORVIK
