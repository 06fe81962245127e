#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace ORVIK {

// What `orvik wifi` asks of the WiFi dialog. The dialog is an exported class of the module, so
// the code that creates it links the module, as host UI code does; it lives in a plug-in of its
// own that orvik loads only when a WiFi command runs, so orvik itself never links the module.
struct WifiDialogRequest
{
    bool list = false;         // one scan, then print the entries
    QString screenshotPath;    // one scan, then save the dialog as PNG
    bool showPassword = false; // print the password after Accept
    bool join = false;         // join the accepted network instead of printing it
    QByteArray connectSsid;    // join this network without the dialog
    QString password;          // with --connect: WPA-PSK with this password; empty for an open network
    bool hidden = false;       // with --connect: the network does not broadcast its name
    // An empty scan whose cause is known fails the scan (exit 1), unless the picture is wanted whatever
    // the scan found (the demo's): then the cause is a note.
    bool emptyIsNote = false;
    bool interactive() const { return !list && screenshotPath.isEmpty() && connectSsid.isEmpty(); }
};

using WifiDialogEntry = int (*)(const WifiDialogRequest &request, QTextStream &out, QTextStream &err);

constexpr const char *kWifiDialogPluginName = "orvikwifi";
constexpr const char *kWifiDialogEntrySymbol = "orvikRunWifiDialog";

} // namespace ORVIK
