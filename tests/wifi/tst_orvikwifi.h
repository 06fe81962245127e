#pragma once

#include "apps/orvik/plugins/wifidialogplugin.h"
#include "tests/orvikprocess.h"

#include <QObject>
#include <QString>

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
#ifdef Q_OS_WIN
    void plantedInWorkingFolder_data();
    void plantedInWorkingFolder(); // runs nothing and loads nothing from there
#endif
};

namespace ORVIK {

// What the stand-in netsh prints: the dialog lists Tram Stop and Bakery, not the hidden network.
extern const char *const kListing;

// Runs the WiFi plug-in's entry in process; as soon as the dialog lists two networks, chooses the
// second, types the name if one is given and the password "hunter 2", and answers ("Accept",
// "Cancel" or "close"). Returns the exit code; out and err receive what the plug-in prints, err
// also a window still shown once it returned.
int answerDialog(WifiDialogRequest request, const QString &answer, const QString &typed, QString &out, QString &err);

// The dialog's Accept with joining asked for, told as a run of orvik.
OrvikRun acceptJoin(const QString &typed);

} // namespace ORVIK
