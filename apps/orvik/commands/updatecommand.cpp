#include "apps/orvik/commands.h"

#include "apps/orvik/plugins/updatecheckplugin.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/updatechecker.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>

namespace ORVIK {

int runUpdateCheckCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fetch URL + \"Update/Windows/\" + NAME + \".txt\" from the update server and compare the version it\n"
        "offers with the installed one. Exit code 0: an update is available or the application is up to date;\n"
        "1: the check failed."));
    context.addCommonOptions(parser);
    const QCommandLineOption base(QStringLiteral("base"),
                                  QStringLiteral("Base address of the update server, ending in \"/\" (default: %1).")
                                      .arg(QString::fromLatin1(ORVIKUpdateChecker::kUpdateServerURL.data())),
                                  QStringLiteral("URL"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("Name part of the description file (default: the application's "
                                                 "name, \"%1\").")
                                      .arg(QCoreApplication::applicationName()),
                                  QStringLiteral("NAME"));
    const QCommandLineOption current(
        QStringLiteral("current"),
        QStringLiteral("Installed version to compare with (default: %1).").arg(QStringLiteral(ORVIK_VERSION)),
        QStringLiteral("VERSION"));
    parser.addOptions({base, name, current});
    if (!context.parse(parser))
        return ExitUsage;
    if (parser.isSet(base) && !parser.value(base).endsWith(QLatin1Char('/'))) {
        context.err << "orvik: --base must end in \"/\"" << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(name) && parser.value(name).isEmpty()) {
        context.err << "orvik: --name must not be empty" << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(current) && !UpdateChecker::IsVersion(StringStream<QString>::toString(parser.value(current)))) {
        context.err << "orvik: --current must be a version number such as 1.2.0" << Qt::endl;
        return ExitUsage;
    }
    if (!context.loadModuleWithServices(parser))
        return ExitUsage;

    UpdateCheckRequest request;
    request.baseURL = parser.value(base);
    request.name = parser.value(name);
    request.currentVersion = parser.isSet(current) ? parser.value(current) : QStringLiteral(ORVIK_VERSION);
    return context.runPlugin(kUpdateCheckPluginName, kUpdateCheckEntrySymbol, request);
}

} // namespace ORVIK
