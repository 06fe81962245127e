#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/demo/demonetsh.h"
#include "apps/orvik/demo/demosteps.h"
#include "apps/orvik/plugins/wifidialogplugin.h"

#include <QDir>
#include <QTemporaryDir>

namespace ORVIK {

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

    const DemoNetsh netsh;
    if (!netsh.isValid()) {
        ErrorLine::print(context.err, QStringLiteral("cannot write the stand-in netsh"));
        return ExitFailure;
    }
    WifiDialogRequest request;
    request.list = true;
    request.emptyIsNote = true;
    request.screenshotPath = pictureDir.filePath(QStringLiteral("wifi-dialog.png"));
    context.out << "networks the dialog lists (quality, name):" << Qt::endl;
    const int code = context.runPlugin(kWifiDialogPluginName, kWifiDialogEntrySymbol, request);
    if (code == ExitOk)
        context.out << "screenshot: " << request.screenshotPath << Qt::endl;
    return code;
}

} // namespace ORVIK
