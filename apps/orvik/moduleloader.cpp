#include "apps/orvik/moduleloader.h"

#include "apps/orvik/programfolders.h"
#include "host/base/modulemanager.h"
#include "host/base/moduleresources.h"

#include <QFileInfo>

namespace ORVIK {

namespace {

// The entry function's decorated name, ORVIK::AddORVIKNetworkFunctionsToModuleManager(), as this
// program's compiler decorates it: a module is built with the same compiler as its host, since the
// host also uses its exported C++ classes.
#ifdef _MSC_VER
constexpr const char *kEntrySymbol = "?AddORVIKNetworkFunctionsToModuleManager@ORVIK@@YAXXZ";
#else
constexpr const char *kEntrySymbol = "_ZN5ORVIK39AddORVIKNetworkFunctionsToModuleManagerEv";
#endif

} // namespace

QString ModuleLoader::defaultPath()
{
    return ProgramFolders::moduleFile();
}

bool ModuleLoader::load(const QString &path)
{
    m_path = path;
    if (!QFileInfo(path).isFile()) {
        m_error = QStringLiteral("module file not found: %1").arg(path);
        return false;
    }
    m_library.setFileName(QFileInfo(path).absoluteFilePath());
    if (!m_library.load()) {
        m_error = QStringLiteral("cannot load module %1: %2").arg(path, m_library.errorString());
        return false;
    }
    using Entry = void (*)();
    const auto entry = reinterpret_cast<Entry>(m_library.resolve(kEntrySymbol));
    if (!entry) {
        m_error = QStringLiteral("%1 is not an ORVIK module: no entry function").arg(path);
        m_library.unload();
        return false;
    }
    entry();
    if (!ModuleManager::GetModule(kModuleName)) {
        m_error = QStringLiteral("%1 did not register a module named ORVIKNetwork").arg(path);
        return false;
    }
    m_loaded = true;
    return true;
}

const Module *ModuleLoader::module() const
{
    return m_loaded ? ModuleManager::GetModule(kModuleName) : nullptr;
}

QFunctionPointer ModuleLoader::resolve(const char *symbol)
{
    return m_loaded ? m_library.resolve(symbol) : nullptr;
}

bool ModuleLoader::callSetupMetatypes() const
{
    const Module *record = module();
    HookFunction hook = record ? record->hook("SetupMetatypesForORVIK") : nullptr;
    if (!hook)
        return false;
    hook();
    return true;
}

bool ModuleLoader::callDefineResources(ModuleResources &resources) const
{
    const Module *record = module();
    HookFunction hook = record ? record->hook("DefineModuleResourcesForORVIK") : nullptr;
    if (!hook)
        return false;
    reinterpret_cast<void (*)(ModuleResources &)>(hook)(resources);
    return true;
}

} // namespace ORVIK
