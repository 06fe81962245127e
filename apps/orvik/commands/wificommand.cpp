#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/commands.h"
#include "apps/orvik/commands/ssidargument.h"
#include "apps/orvik/plugins/wifidialogplugin.h"

namespace ORVIK {

namespace {

const QCommandLineOption kList(QStringLiteral("list"),
                               QStringLiteral("Scan once and print each listed network: quality, tab, name."));
const QCommandLineOption kScreenshot(QStringLiteral("screenshot"),
                                     QStringLiteral("Scan once and save the dialog as a PNG file."),
                                     QStringLiteral("FILE"));
const QCommandLineOption kShowPassword(QStringLiteral("show-password"),
                                       QStringLiteral("After Accept, also print the password."));
const QCommandLineOption kJoin(QStringLiteral("join"),
                               QStringLiteral("After Accept, join the network through NetworkManager."));
const QCommandLineOption kConnect(QStringLiteral("connect"),
                                  QStringLiteral("Join the network SSID through NetworkManager, without the dialog."),
                                  QStringLiteral("SSID"));
const QCommandLineOption kHidden(
    QStringLiteral("hidden"),
    QStringLiteral("With --connect: the network does not broadcast its name; join it although no scan lists it."));
const QCommandLineOption kPassword(QStringLiteral("password"),
                                   QStringLiteral("With --connect: the WPA password; without it the network is open."),
                                   QStringLiteral("TEXT"));

// The uses that render the dialog off screen, or show none; every other use shows its window.
const QCommandLineOption *const kWindowless[] = {&kList, &kScreenshot, &kConnect};

void declare(CommandLine &parser)
{
    parser.setCommand(QStringLiteral("wifi"));
    parser.setApplicationDescription(
        QStringLiteral("Open the WiFi dialog and scan. Accept prints the chosen network (exit 0), Cancel exits 1.\n"
                       "--connect and --join join a network through NetworkManager: exit 0 once it is activated.\n"
                       "--join joins a typed name that no scan lists as a hidden network."));
    parser.addOptions({kList, kScreenshot, kShowPassword, kJoin, kConnect, kHidden, kPassword});
}

} // namespace

bool wifiShowsWindow(const QStringList &arguments)
{
    CommandLine parser;
    declare(parser);
    CommandContext::addSharedOptions(parser);
    // Help and a mistake are printed, not shown.
    if (parser.parse(arguments) != CommandLine::Outcome::Run)
        return false;
    for (const QCommandLineOption *option : kWindowless)
        if (parser.isSet(*option))
            return false;
    return true;
}

int runWifiCommand(CommandContext &context)
{
    CommandLine parser;
    declare(parser);
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    // One use at a time; a password and the hidden mark go with --connect.
    const bool connecting = parser.isSet(kConnect);
    const int uses = int(parser.isSet(kList) || parser.isSet(kScreenshot)) + int(parser.isSet(kJoin)) + int(connecting);
    if (uses > 1 || ((parser.isSet(kPassword) || parser.isSet(kHidden)) && !connecting) ||
        (connecting && parser.value(kConnect).isEmpty())) {
        ErrorLine::print(context.err,
                         QStringLiteral("wifi takes --connect SSID [--hidden] [--password TEXT], or --join, or "
                                        "--list/--screenshot FILE; orvik wifi --help lists the options"));
        return ExitUsage;
    }
    // Registered as at start-up; the dialog comes from the module file beside the program.
    if (!context.loadModule(parser))
        return ExitUsage;

    WifiDialogRequest request;
    request.list = parser.isSet(kList);
    request.screenshotPath = parser.value(kScreenshot);
    request.showPassword = parser.isSet(kShowPassword);
    request.join = parser.isSet(kJoin);
    request.connectSsid = ssidArgument(parser.value(kConnect));
    request.password = parser.value(kPassword);
    request.hidden = parser.isSet(kHidden);
    return context.runPlugin(kWifiDialogPluginName, kWifiDialogEntrySymbol, request);
}

} // namespace ORVIK
