#include "apps/orvik/commands.h"
#include "apps/orvik/demo/demosteps.h"

namespace ORVIK {

namespace {

struct DemoStep
{
    const char *title;
    int (*run)(CommandContext &);
};

// Every step runs against loopback peers that the demo starts itself.
const DemoStep kSteps[] = {
    {"module registration", &printRegistration},
    {"web transfers", &demoTransfers},
    {"network time", &demoTime},
    {"update check", &demoUpdateCheck},
    {"wifi dialog screenshot", &demoWifiScreenshot},
};

} // namespace

int runDemoCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral("Run every service of the module once, on this machine only."));
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    if (!context.loadModuleWithServices(parser))
        return ExitUsage;

    int failures = 0;
    for (const DemoStep &step : kSteps) {
        context.out << "== " << step.title << " ==" << Qt::endl;
        const int code = step.run(context);
        if (code != ExitOk) {
            ++failures;
            context.out << "-- " << step.title << ": FAILED (exit " << code << ")" << Qt::endl;
        }
    }
    context.out << "demo: " << (std::size(kSteps) - failures) << " of " << std::size(kSteps) << " steps passed"
                << Qt::endl;
    return failures == 0 ? ExitOk : ExitFailure;
}

} // namespace ORVIK
