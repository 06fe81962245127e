#include "module/moduleentry.h"

#include "host/base/module.h"
#include "host/base/modulemanager.h"
#include "host/base/translator.h"

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

// One empty body behind every hook that has nothing to do here.
#ifdef _WIN32
void orvikNetworkEmptyHook()
{}
#else
__attribute__((visibility("hidden"))) void orvikNetworkEmptyHook()
{}
#endif

#ifndef _WIN32
// On ELF every empty export is another name for the same function; the Windows build
// maps the names onto it in its module-definition file.
#define ORVIK_EMPTY_HOOK_ALIAS(name)                                                                                   \
    void name() __attribute__((alias("orvikNetworkEmptyHook"), copy(orvikNetworkEmptyHook)));
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkRegisterUserSettingsForORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkSetupFileStructureForORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkFactoryResetORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkSetupFactoriesForORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkSetUpdateCheckerForORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkSetupManualsForORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkSetupUIThemesForORVIK)
ORVIK_EMPTY_HOOK_ALIAS(ORVIKNetworkSetupUIForORVIK)
#undef ORVIK_EMPTY_HOOK_ALIAS
#endif

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
