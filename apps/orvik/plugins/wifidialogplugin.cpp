#include "apps/orvik/plugins/wifidialogplugin.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/commandcontext.h"
#include "apps/orvik/plugins/wifijoin.h"
#include "apps/orvik/plugins/wifiservice.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qstringstream.h"
#include "wifi/wificonnectdialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QWindow>

#include <algorithm>

namespace ORVIK {

namespace {

void printEntries(const WifiConnectDialog &dialog, QTextStream &out)
{
    const auto *combo = dialog.findChild<QCustomComboBox *>();
    for (int i = 0; combo && i < combo->count(); ++i)
        out << combo->itemData(i, WifiConnectDialog::SignalQualityRole).toInt() << '\t' << combo->itemText(i) << '\n';
    out.flush();
}

// The dialog as a person sees it while choosing: with its network list open. The list is a window
// of its own, so both windows are grabbed and put together where they stand on the screen.
QPixmap grabWithListOpen(WifiConnectDialog &dialog)
{
    auto *combo = dialog.findChild<QCustomComboBox *>();
    if (!combo || combo->count() == 0)
        return dialog.grab();
    QWidget *list = combo->view()->window();
    list->setAttribute(Qt::WA_DontShowOnScreen);
    combo->showPopup();
    QCoreApplication::processEvents();
    const QRect dialogArea(dialog.mapToGlobal(QPoint(0, 0)), dialog.size());
    const QRect listArea(list->mapToGlobal(QPoint(0, 0)), list->size());
    const QRect area = dialogArea.united(listArea);
    QPixmap picture(area.size());
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.drawPixmap(dialogArea.topLeft() - area.topLeft(), dialog.grab());
    painter.drawPixmap(listArea.topLeft() - area.topLeft(), list->grab());
    painter.end();
    combo->hidePopup();
    return picture;
}

int scanOnce(const WifiDialogRequest &request, QTextStream &out, QTextStream &err)
{
    WifiConnectDialog dialog;
    // Rendered off screen even where a display exists: nothing appears.
    dialog.setAttribute(Qt::WA_DontShowOnScreen);
    dialog.scanAndPopulate();
    if (request.list)
        printEntries(dialog, out);
    // An empty list says nothing by itself: no network in reach, or nothing that could look. When
    // nothing could look, the scan failed, whether it was to be listed or pictured.
    const auto *combo = dialog.findChild<QCustomComboBox *>();
    bool locationDenied = false;
    const QString problem = !combo || combo->count() == 0 ? wifiServiceProblem(&locationDenied) : QString();
    // Location access is the user's to give: it fails even where an empty list is only a note.
    if (locationDenied)
        ErrorLine::print(err, problem);
    else if (!problem.isEmpty())
        ErrorLine::print(err, QStringLiteral("no WiFi networks listed: ") + problem);
    const int outcome = problem.isEmpty() || (request.emptyIsNote && !locationDenied) ? ExitOk : ExitFailure;
    if (request.screenshotPath.isEmpty())
        return outcome;
    dialog.resize(dialog.sizeHint());
    dialog.show();
    QCoreApplication::processEvents();
    if (!grabWithListOpen(dialog).save(request.screenshotPath, "PNG")) {
        ErrorLine::print(err, QStringLiteral("cannot write the screenshot ") + request.screenshotPath);
        return ExitFailure;
    }
    return outcome;
}

int runInteractive(const WifiDialogRequest &request, QTextStream &out, QTextStream &err)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        ErrorLine::print(err, QStringLiteral("wifi needs a display to show its window; --list, --screenshot FILE and "
                                             "--connect need none"));
        return ExitFailure;
    }
    WifiConnectDialog dialog;
    bool accepted = false;
    QEventLoop loop;
    QObject::connect(&dialog, &WifiConnectDialog::acceptedSignal, &loop, [&] {
        accepted = true;
        loop.quit();
    });
    QObject::connect(&dialog, &WifiConnectDialog::canceledSignal, &loop, &QEventLoop::quit);
    dialog.show();
    // Closing the window is a cancel.
    QObject::connect(dialog.windowHandle(), &QWindow::visibleChanged, &loop, [&](bool visible) {
        if (!visible)
            loop.quit();
    });
    dialog.startAutoScan(10000);
    loop.exec();
    if (!accepted)
        return ExitFailure;

    const String ssid = dialog.currentSsid();
    const String password = dialog.currentPassword().decode();
    if (request.join) {
        // A name that the scan did not list was typed: a hidden network.
        const auto *combo = dialog.findChild<QCustomComboBox *>();
        const bool listed =
            combo && std::find(combo->values().begin(), combo->values().end(), ssid) != combo->values().end();
        dialog.hide();
        return joinWifiNetwork(QByteArray(ssid.data(), qsizetype(ssid.length())),
                               StringStream<QString>::fromString(password), !listed, out, err);
    }
    out << StringStream<QString>::fromString(ssid) << '\n';
    if (request.showPassword)
        out << StringStream<QString>::fromString(password) << '\n';
    out.flush();
    return ExitOk;
}

} // namespace

} // namespace ORVIK

extern "C" Q_DECL_EXPORT int orvikRunWifiDialog(const ORVIK::WifiDialogRequest &request, QTextStream &out,
                                                QTextStream &err)
{
    if (!request.connectSsid.isEmpty())
        return ORVIK::joinWifiNetwork(request.connectSsid, request.password, request.hidden, out, err);
    return request.interactive() ? ORVIK::runInteractive(request, out, err) : ORVIK::scanOnce(request, out, err);
}
