// Joining through the WLAN API: the stand-in wlanapi.dll in the system folder of the tests' Wine prefix.
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"
#include "tests/wifi/tst_orvikwifi.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

using namespace ORVIK;

namespace {

// Cafe seen by two interfaces, more strongly by the second, and Home by the first; weaker, by the
// first: a WPA3-Personal network (auth 9: DOT11_AUTH_ALGO_WPA3_SAE, cipher 4: CCMP), a WEP one
// (open with WEP40), an enterprise one (auth 6: RSNA) and one whose name is not ASCII.
const QList<FakeWlan::Interface> kRadios = {{{{"Cafe", 40},
                                              {"Home", 60},
                                              {"Sae", 30, -1, 9, 4},
                                              {"Wep", 29, -1, 1, 1},
                                              {"Corp", 28, -1, 6, 4},
                                              {"Caf\xC3\xA9", 27}}},
                                            {{{"Cafe", 80}}}};

// The stand-in's log lines that match the pattern.
QStringList linesOf(const FakeWlan &wlan, const char *pattern)
{
    return wlan.log().filter(QRegularExpression(QLatin1String(pattern)));
}

// The system folder, with forward slashes.
QString systemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return QDir::fromNativeSeparators(QString::fromWCharArray(folder, int(length)));
}

} // namespace

// A WPA2-Personal profile of this name and its bytes, and the connection with it: flag 1 is
// WLAN_CONNECTION_HIDDEN_NETWORK.
QStringList ORVIK::joinReceived(const QString &network, const QString &password, int device, bool hidden)
{
    const QString broadcast = hidden ? QStringLiteral("true") : QStringLiteral("false");
    return {QStringLiteral("<name>%1</name><SSIDConfig><SSID><hex>%2</hex></SSID><nonBroadcast>%3</nonBroadcast>")
                .arg(network, QString::fromLatin1(network.toUtf8().toHex().toUpper()), broadcast),
            QStringLiteral("<authentication>WPA2PSK</authentication><encryption>AES</encryption>"),
            QStringLiteral("<keyMaterial>%1</keyMaterial>").arg(password.toHtmlEscaped()),
            QStringLiteral("connect %1 mode=0 profile=%2 flags=%3").arg(device).arg(network).arg(hidden ? 1 : 0)};
}

// The stand-ins stand where Windows keeps the real ones, the system folder of the tests' Wine
// prefix, and nowhere in the program's folder.
void tst_OrvikWifi::initTestCase()
{
    QVERIFY(QFileInfo::exists(orvikBinPath(QStringLiteral("orvikwifi.dll"))));
    for (const QString &file : {QStringLiteral("wlanapi.dll"), QStringLiteral("netsh.exe")}) {
        QVERIFY2(QFileInfo::exists(systemFolder() + QLatin1Char('/') + file), qPrintable(file));
        QVERIFY2(!QFileInfo::exists(orvikBinPath(file)), qPrintable(file));
    }
}

void tst_OrvikWifi::join()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, typed);
    QFETCH(bool, service);
    QFETCH(uint, failReason);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, received);
    QFETCH(QByteArray, scenario);

    FakeWlan wlan(kRadios, service ? 0 : 1062);
    wlan.addScenario("connect " + QByteArray::number(failReason) + " the security key is wrong\n" + scenario);
    FakeNetsh noCommand;
    const OrvikRun orvik = arguments.isEmpty() ? acceptJoin(typed) : runOrvik(arguments);
    QVERIFY2(orvik.exitCode == exitCode, orvik.err.constData());
    if (exitCode == 0)
        QVERIFY2(orvik.out == message && orvik.err.isEmpty(), (orvik.out + orvik.err).constData());
    else
        // A message that ends its line is one whole line of standard error.
        QVERIFY2(message.endsWith('\n') ? ('\n' + orvik.err).contains('\n' + message) : orvik.err.contains(message),
                 orvik.err.constData());

    // All but the last line received are parts of the one profile set.
    const QStringList profiles = linesOf(wlan, "^profile ");
    QCOMPARE(profiles.size(), received.size() > 1 ? 1 : 0);
    for (const QString &part : received.mid(0, received.size() - 1))
        QVERIFY2(profiles.constFirst().contains(part), qPrintable(part));
    // This user's profile (flag 2, WLAN_PROFILE_USER). Fault: one for every user of the machine.
    if (!profiles.isEmpty())
        QVERIFY2(profiles.constFirst().contains(QLatin1String(" flags=2 ")), qPrintable(profiles.constFirst()));
    // A join scans every interface and reads the lists after: the scan's end was waited for (the
    // stand-in tells it at once). Fault: the lists read without a scan.
    if (arguments.contains(QLatin1String("--connect")) && service)
        QVERIFY2(linesOf(wlan, "^(scan|list) ").value(0).startsWith(QLatin1String("scan ")),
                 qPrintable(wlan.log().join('\n')));
    const QString connect = received.value(received.size() - 1);
    QCOMPARE(linesOf(wlan, "^connect "), connect.isEmpty() ? QStringList() : QStringList{connect});
    // Told of the outcome from registration on (source 8, the ACM's), and no longer once it is known.
    if (!connect.isEmpty())
        QCOMPARE(linesOf(wlan, "^(notify|connect) "), (QStringList{"notify 8", connect, "notify 0"}));
    QTRY_VERIFY(wlan.balanced()); // the dialog's scans end with it
}
