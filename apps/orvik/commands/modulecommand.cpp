#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/commands.h"

#include "host/base/moduleresources.h"
#include "host/widgets/qstringstream.h"

#include <algorithm>
#include <vector>

namespace ORVIK {

namespace {

QString q(const String &text)
{
    return StringStream<QString>::fromString(text);
}

void printRecord(const Module &module, QTextStream &out)
{
    out << "name: " << q(module.name()) << '\n';
    out << "display name: " << q(module.display_name.translation()) << '\n';
    out << "version: " << q(module.version) << '\n';
    out << "description: " << q(module.description.translation()) << '\n';
    out << "icon: " << q(module.icon) << '\n';
    out << "kind: " << module.module_kind << '\n';

    // The table is unordered; print the hooks by name so the output is stable.
    std::vector<String> names;
    for (const auto &entry : module.hooks)
        names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    out << "hooks: " << names.size() << '\n';
    for (const String &name : names)
        out << "  " << q(name) << '\n';
}

void printResources(const ModuleResources &resources, QTextStream &out)
{
    out << "dependencies: " << resources.dependencies.size() << '\n';
    for (const ModuleDependency &dependency : resources.dependencies)
        out << "  " << q(dependency.file()) << " (" << q(dependency.config()) << ", os " << q(dependency.os())
            << ", platform " << q(dependency.platform()) << ", type " << static_cast<int>(dependency.type()) << ")\n";
    out << "ports: " << resources.ports.size() << '\n';
    for (const ModulePort &port : resources.ports)
        out << "  " << q(port.id) << ": " << q(port.name.translation()) << ", " << q(port.protocol) << " " << port.port
            << ", profile " << q(port.profile) << ", scope " << q(port.scope) << '\n';
}

} // namespace

int printRegistration(CommandContext &context)
{
    const Module *module = context.loader.module();
    printRecord(*module, context.out);
    ModuleResources resources;
    if (!context.loader.callDefineResources(resources)) {
        ErrorLine::print(context.err, QStringLiteral("the module has no DefineModuleResourcesForORVIK hook"));
        return ExitFailure;
    }
    printResources(resources, context.out);
    context.out.flush();
    return ExitOk;
}

int runModuleCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral("Load the module and print what it registers."));
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    if (!context.loadModule(parser))
        return ExitUsage;
    return printRegistration(context);
}

} // namespace ORVIK
