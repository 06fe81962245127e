#pragma once

#include "apps/orvik/plugins/wifidialogplugin.h"
#include "tests/orvikprocess.h"

#include <QObject>
#include <QString>
#include <QStringList>

// `orvik wifi`: the command's uses as a program, the dialog's answers in process as a user gives
// them. Joining goes through the platform's service: NetworkManager, or the WLAN API on Windows,
// each tested in a source of its own.
class tst_OrvikWifi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase(); // the platform's service is ready before anything asks it
    void command_data();
    void command();
    void answers_data();
    void answers();
    void join_data(); // with orvik, and through the dialog's Accept
    void join();
};

namespace ORVIK {

// What the stand-in netsh prints: the dialog lists Tram Stop and Bakery, not the hidden network.
extern const char *const kListing;

// Runs the WiFi plug-in's entry in process; as soon as the dialog lists two networks, chooses the
// second, types the name if one is given and the password "hunter 2", and answers ("Accept",
// "Cancel" or "close"). Told as a run of orvik, whose standard error also names a window still
// shown once the entry returned.
OrvikRun answerDialog(WifiDialogRequest request, const QString &answer, const QString &typed = {});

// The dialog's Accept with joining asked for.
OrvikRun acceptJoin(const QString &typed);

// What the platform's service receives when `network` is joined with `password` on its device
// `device` (hidden: as a hidden network), in the words of its stand-in: NetworkManager's one request;
// parts of the one WLAN profile set, then the line of WlanConnect.
QStringList joinReceived(const QString &network, const QString &password, int device, bool hidden);

} // namespace ORVIK
