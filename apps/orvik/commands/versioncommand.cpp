#include "apps/orvik/commands.h"

#include "host/widgets/qstringstream.h"

namespace ORVIK {

int runVersionCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral("Print the versions of orvik, the module and Qt."));
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    context.out << "orvik " << ORVIK_VERSION << '\n';
    // The module's own word on its version: the record it registers, not what orvik was built with.
    const bool loaded = context.loadModule(parser);
    if (loaded)
        context.out << "module " << StringStream<QString>::fromString(context.loader.module()->name()) << ' '
                    << StringStream<QString>::fromString(context.loader.module()->version) << " ("
                    << context.loader.path() << ")\n";
    context.out << "Qt " << qVersion() << '\n';
    context.out.flush();
    return loaded ? ExitOk : ExitUsage;
}

} // namespace ORVIK
