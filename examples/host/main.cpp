// Registers the module as a host that links it does, and prints the record it registered.
// The module's public headers are all included, so that the build also checks that each one
// compiles with only the installed include folder.
#include "host/base/module.h"
#include "host/base/modulemanager.h"
#include "module/moduleentry.h"
#include "update/orvikupdatechecker.h"
#include "wifi/wificonnectdialog.h"

#include <cstdio>

int main()
{
    ORVIK::AddORVIKNetworkFunctionsToModuleManager();
    const ORVIK::Module *module = ORVIK::ModuleManager::GetModule("ORVIKNetwork");
    if (!module) {
        std::fprintf(stderr, "orvikhost: the module did not register\n");
        return 1;
    }
    std::printf("%s %s registered\n", module->name().data(), module->version.data());
    return 0;
}
