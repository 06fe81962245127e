#include "apps/orvik/commands.h"
#include "apps/orvik/plugins/wifidialogplugin.h"

namespace ORVIK {

int runWifiCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Open the WiFi dialog and scan. Accept prints the chosen network (exit 0), Cancel exits 1.\n"
                       "--connect and --join join a network through NetworkManager: exit 0 once it is activated.\n"
                       "--join joins a typed name that no scan lists as a hidden network."));
    context.addCommonOptions(parser);
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Scan once and print each listed network: quality, tab, name."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Scan once and save the dialog as a PNG file."),
                                        QStringLiteral("file"));
    const QCommandLineOption showPassword(QStringLiteral("show-password"),
                                          QStringLiteral("After Accept, also print the password."));
    const QCommandLineOption join(QStringLiteral("join"),
                                  QStringLiteral("After Accept, join the network through NetworkManager."));
    const QCommandLineOption connect(
        QStringLiteral("connect"), QStringLiteral("Join the network SSID through NetworkManager, without the dialog."),
        QStringLiteral("SSID"));
    const QCommandLineOption hidden(
        QStringLiteral("hidden"),
        QStringLiteral("With --connect: the network does not broadcast its name; join it although no scan lists it."));
    const QCommandLineOption password(
        QStringLiteral("password"), QStringLiteral("With --connect: the WPA password; without it the network is open."),
        QStringLiteral("TEXT"));
    parser.addOptions({list, screenshot, showPassword, join, connect, hidden, password});
    if (!context.parse(parser))
        return ExitUsage;
    if (!parser.positionalArguments().isEmpty()) {
        context.err << "orvik: wifi takes no arguments" << Qt::endl;
        return ExitUsage;
    }
    // One use at a time; a password and the hidden mark go with --connect.
    const bool connecting = parser.isSet(connect);
    const int uses = int(parser.isSet(list) || parser.isSet(screenshot)) + int(parser.isSet(join)) + int(connecting);
    if (uses > 1 || ((parser.isSet(password) || parser.isSet(hidden)) && !connecting) ||
        (connecting && parser.value(connect).isEmpty())) {
        context.err
            << "orvik: wifi takes --connect SSID [--hidden] [--password TEXT], or --join, or --list/--screenshot"
            << Qt::endl;
        return ExitUsage;
    }
    // Registered as at start-up; the dialog comes from the module file beside the program.
    if (!context.loadModule(parser))
        return ExitUsage;

    WifiDialogRequest request;
    request.list = parser.isSet(list);
    request.screenshotPath = parser.value(screenshot);
    request.showPassword = parser.isSet(showPassword);
    request.join = parser.isSet(join);
    // The name's bytes as the command line gave them.
    request.connectSsid = parser.value(connect).toLocal8Bit();
    request.password = parser.value(password);
    request.hidden = parser.isSet(hidden);
    return context.runPlugin(kWifiDialogPluginName, kWifiDialogEntrySymbol, request);
}

} // namespace ORVIK
