#include "module/moduleentry.h"

#include "host/base/module.h"
#include "host/base/modulemanager.h"
#include "host/base/translator.h"
#include "module/emptyhook.h"

namespace {

constexpr ORVIK::StringView kModuleName = "ORVIKNetwork";

// The hook table in the order in which the host expects the entries.
struct HookEntry
{
    const char *name;
    ORVIK::HookFunction function;
};

ORVIK::HookFunction asHook(void (*function)(ORVIK::ModuleResources &))
{
    // The table stores untyped addresses; the host casts back by hook name.
    return reinterpret_cast<ORVIK::HookFunction>(function);
}

} // namespace

extern "C" {

void ORVIKNetworkInitializeForORVIK(ORVIK::Module &module)
{
    using ORVIK::TranslatedString;
    using ORVIK::Translator;
    module.display_name = TranslatedString(Translator::DefaultID("ORVIK Network"), "ORVIK Network");
    module.version = "1.0.0";
    module.description =
        TranslatedString(Translator::DefaultFastID("orvik_network_module_description"),
                         "Allows application to download or upload files or information on the network");
    module.icon = "link";
    module.module_kind = 1;
}

} // extern "C"

namespace ORVIK {

void AddORVIKNetworkFunctionsToModuleManager()
{
    Module module(kModuleName);
    ORVIKNetworkInitializeForORVIK(module);

    const HookEntry table[] = {
        {"SetupMetatypesForORVIK", &ORVIKNetworkSetupMetatypesForORVIK},
        {"RegisterUserSettingsForORVIK", &orvikNetworkEmptyHook},
        {"SetupFileStructureForORVIK", &orvikNetworkEmptyHook},
        {"FactoryResetORVIK", &orvikNetworkEmptyHook},
        {"SetupFactoriesForORVIK", &orvikNetworkEmptyHook},
        {"SetUpdateCheckerForORVIK", &orvikNetworkEmptyHook},
        {"SetupManualsForORVIK", &orvikNetworkEmptyHook},
        {"SetupUIThemesForORVIK", &orvikNetworkEmptyHook},
        {"SetupUIForORVIK", &orvikNetworkEmptyHook},
        {"DefineModuleResourcesForORVIK", asHook(&ORVIKNetworkDefineModuleResourcesForORVIK)},
    };
    for (const HookEntry &entry : table)
        module.addHook(String(entry.name), entry.function);

    ModuleManager::AddModule(module);
}

} // namespace ORVIK
