#pragma once

#include "module/orviknetwork_export.h"

namespace ORVIK {

class Module;
struct ModuleResources;

// Called once by the host after loading the library: registers the module and its hooks.
ORVIKNETWORK_EXPORT void AddORVIKNetworkFunctionsToModuleManager();

} // namespace ORVIK

// The hooks, also exported under undecorated names so that a host can find them by symbol.
extern "C" {
ORVIKNETWORK_EXPORT void ORVIKNetworkInitializeForORVIK(ORVIK::Module &module);
ORVIKNETWORK_EXPORT void ORVIKNetworkDefineModuleResourcesForORVIK(ORVIK::ModuleResources &resources);
ORVIKNETWORK_EXPORT void ORVIKNetworkSetupMetatypesForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkRegisterUserSettingsForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkSetupFileStructureForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkFactoryResetORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkSetupFactoriesForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkSetUpdateCheckerForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkSetupManualsForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkSetupUIThemesForORVIK();
ORVIKNETWORK_EXPORT void ORVIKNetworkSetupUIForORVIK();
}
