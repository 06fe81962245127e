#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/demo/demosteps.h"
#include "apps/orvik/plugins/wifidialogplugin.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace ORVIK {

#ifndef Q_OS_WIN
namespace {

// What the demo's stand-in for netsh prints: the listing of a Windows machine in a busy street.
constexpr const char *kDemoNetshOutput =
    "\r\nInterface name : Wi-Fi\r\nThere are 4 networks currently visible.\r\n\r\n"
    "SSID 1 : Cafe Nord\r\n    Network type            : Infrastructure\r\n"
    "    Authentication          : WPA2-Personal\r\n    Encryption              : CCMP\r\n"
    "    BSSID 1                 : 3c:84:6a:10:22:31\r\n         Signal             : 92%\r\n"
    "         Radio type         : 802.11ax\r\n\r\n"
    "SSID 2 : Library Guest\r\n    BSSID 1                 : 00:1d:7e:aa:01:02\r\n"
    "         Signal             : 64%\r\n\r\n"
    "SSID 3 : \r\n    BSSID 1                 : 00:1d:7e:aa:01:03\r\n         Signal             : 58%\r\n\r\n"
    "SSID 4 : HomeNet 5G\r\n    BSSID 1                 : 52:91:e3:07:6c:10\r\n"
    "         Signal             : 31%\r\n\r\n"
    "SSID 5 : Bus Stop\r\n    BSSID 1                 : 9a:00:12:34:56:78\r\n"
    "         Signal             : 12%\r\n";

} // namespace
#endif

int demoWifiScreenshot(CommandContext &context)
{
    // A folder of this run's own (mode 0700), kept so that the picture can be looked at: another user's
    // demo, or an earlier one, never meets it.
    QTemporaryDir pictureDir(QDir::temp().filePath(QStringLiteral("orvik-demo-XXXXXX")));
    if (!pictureDir.isValid()) {
        ErrorLine::print(context.err, QStringLiteral("cannot make a folder for the screenshot in %1: %2")
                                          .arg(QDir::tempPath(), pictureDir.errorString()));
        return ExitFailure;
    }
    pictureDir.setAutoRemove(false);

    // Windows has the WLAN service, and netsh as its fallback: there the dialog lists what they see.
#ifndef Q_OS_WIN
    QTemporaryDir fakeBin;
    QFile script(fakeBin.filePath(QStringLiteral("netsh")));
    QFile output(fakeBin.filePath(QStringLiteral("netsh-output.txt")));
    if (!fakeBin.isValid() || !output.open(QIODevice::WriteOnly) || output.write(kDemoNetshOutput) < 0 ||
        !script.open(QIODevice::WriteOnly)) {
        ErrorLine::print(context.err, QStringLiteral("cannot write the stand-in netsh"));
        return ExitFailure;
    }
    output.close();
    script.write("#!/bin/sh\nexec cat '" + QFile::encodeName(output.fileName()) + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Without a WLAN service the scan runs netsh by name; ours comes first on PATH.
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(fakeBin.path()) + ':' + savedPath);
#endif
    WifiDialogRequest request;
    request.list = true;
    request.emptyIsNote = true;
    request.screenshotPath = pictureDir.filePath(QStringLiteral("wifi-dialog.png"));
    context.out << "networks the dialog lists (quality, name):" << Qt::endl;
    const int code = context.runPlugin(kWifiDialogPluginName, kWifiDialogEntrySymbol, request);
#ifndef Q_OS_WIN
    qputenv("PATH", savedPath);
#endif
    if (code == ExitOk)
        context.out << "screenshot: " << request.screenshotPath << Qt::endl;
    return code;
}

} // namespace ORVIK
