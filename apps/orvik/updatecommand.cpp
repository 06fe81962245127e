#include "apps/orvik/commands.h"

#include "apps/orvik/updatecheckplugin.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/updatechecker.h"
#include "tests/support/http/httptestserver.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>

namespace ORVIK {

int demoUpdateCheck(CommandContext &context)
{
    // A loopback update server that offers version 1.1.0 of "orvik-demo".
    HttpTestServer server;
    if (!server.listen()) {
        context.err << "orvik: cannot start the loopback update server: " << server.errorString() << Qt::endl;
        return ExitFailure;
    }
    HttpTestServer::Route description;
    description.body = "# orvik demo update\r\nname=ORVIK Demo\r\nversion=1.1.0\r\nurl=" +
                       server.url(QStringLiteral("/downloads/orvik-demo-1.1.0.exe")).toEncoded() + "\r\n";
    server.setRoute("/Update/Windows/orvik-demo.txt", description);

    UpdateCheckRequest request;
    request.baseURL = server.url().toString();
    request.name = QStringLiteral("orvik-demo");
    request.currentVersion = QStringLiteral("1.0.0");
    context.out << "update server: " << request.baseURL << ", installed version " << request.currentVersion << Qt::endl;
    const int code = context.runPlugin(kUpdateCheckPluginName, kUpdateCheckEntrySymbol, request);
    if (code == ExitOk && server.requestCount() == 1)
        context.out << "requested: " << server.request(0).method << ' ' << server.request(0).target << Qt::endl;
    return code;
}

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
