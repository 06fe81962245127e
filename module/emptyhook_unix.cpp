#include "module/emptyhook.h"

#include "module/moduleentry.h"

extern "C" {

__attribute__((visibility("hidden"))) void orvikNetworkEmptyHook()
{}

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

} // extern "C"
