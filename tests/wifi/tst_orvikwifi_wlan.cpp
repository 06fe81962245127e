// Joining through the WLAN API: the stand-in wlanapi.dll in the system folder of the tests' Wine prefix.
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"
#include "tests/wifi/tst_orvikwifi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
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
const QString kSecond = QStringLiteral("interface=00001001-0000-4000-8001");

// The stand-in's calls of one function.
QStringList callsOf(const FakeWlan &wlan, const char *function)
{
    return wlan.log().filter(QRegularExpression(QStringLiteral("^%1 ").arg(QLatin1String(function))));
}

// Every list handed out was freed and every handle closed.
void checkGivenBack(const FakeWlan &wlan)
{
    const QStringList log = wlan.log();
    QCOMPARE(log.filter(QStringLiteral("WlanFreeMemory ")).size(), log.filter(QStringLiteral(" list=")).size());
    QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^WlanFreeMemory .* unknown$"))), QStringList());
    QCOMPARE(callsOf(wlan, "WlanCloseHandle").size(), wlan.reading().opened);
}

// The system folder, with forward slashes.
QString systemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return QDir::fromNativeSeparators(QString::fromWCharArray(folder, int(length)));
}

} // namespace

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

void tst_OrvikWifi::plantedInWorkingFolder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("listing"); // that netsh of the system folder gives
    // No WLAN service, so the scan runs netsh: the system's, by its full path.
    QTest::newRow("list-runs-the-system-netsh") << QStringList{"wifi", "--list"} << QByteArray("88\tBakery\n");
    // The module loads and lists its registration: the WLAN API is loaded when a scan needs it.
    QTest::newRow("module-loads") << QStringList{"module"} << QByteArray();
}

void tst_OrvikWifi::plantedInWorkingFolder()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, listing);
    QTemporaryDir working;
    QVERIFY(working.isValid());
    const QDir planted(qEnvironmentVariable("ORVIK_PLANTED_DIR"));
    for (const QString &file : {QStringLiteral("wlanapi.dll"), QStringLiteral("netsh.exe")})
        QVERIFY2(QFile::copy(planted.filePath(file), working.filePath(file)) &&
                     QFile::setPermissions(working.filePath(file), QFile::ReadOwner | QFile::WriteOwner),
                 qPrintable(planted.filePath(file)));
    FakeWlan missing({}, 1062);
    FakeNetsh netsh("SSID 1 : Bakery\r\n    Signal : 88%\r\n");
    QVERIFY(netsh.isValid());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    OrvikSetup setup;
    setup.workingDirectory = working.path();
    const OrvikRun orvik = runOrvik(arguments, 60000, setup);
    QVERIFY2(orvik.exitCode == 0, orvik.err.constData());
    if (!listing.isEmpty())
        QCOMPARE(orvik.out, listing);
    for (const QString &marker : {QStringLiteral("wlanapi.dll.ran"), QStringLiteral("netsh.exe.ran")})
        QVERIFY2(!QFileInfo::exists(working.filePath(marker)), qPrintable(marker));
}

void tst_OrvikWifi::join_data()
{
    QTest::addColumn<QStringList>("arguments"); // of orvik; none: the dialog's Accept in process
    QTest::addColumn<QString>("typed");         // over the dialog's chosen entry, if not empty
    QTest::addColumn<DWORD>("openResult");
    QTest::addColumn<uint>("failReason"); // of the connection; 0 lets it succeed
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");  // all of standard output for 0, else on standard error
    QTest::addColumn<QStringList>("profile"); // parts of the one profile set, if any
    QTest::addColumn<QString>("connect");     // what the one WlanConnect names after its handle, if any
    QTest::addColumn<QByteArray>("scenario"); // more lines of the stand-in's scenario

    const auto row = [](const char *tag, const QStringList &arguments, DWORD openResult, uint failReason, int exitCode,
                        const QByteArray &message, const QStringList &profile = {}, const QString &connect = {},
                        const QString &typed = {}, const QByteArray &scenario = {}) {
        QTest::newRow(tag) << arguments << typed << openResult << failReason << exitCode << message << profile
                           << connect << scenario;
    };
    const QStringList cafe = {"wifi", "--connect", "Cafe", "--password", "hunter <22>"};
    const QStringList cafeProfile = {"<name>Cafe</name>",
                                     "<SSID><hex>43616665</hex></SSID><nonBroadcast>false</nonBroadcast>",
                                     "<authentication>WPA2PSK</authentication><encryption>AES</encryption>",
                                     "<keyMaterial>hunter &lt;22&gt;</keyMaterial>"};
    const QString cafeConnect = kSecond + QStringLiteral(" mode=0 profile=Cafe flags=0");
    row("password-joins-on-the-strongest-interface", cafe, 0, 0, 0, "joined \"Cafe\" on Wireless adapter 1\n",
        cafeProfile, cafeConnect);
    row("failure-told-with-the-reason", cafe, 0, 42, 1,
        "orvik: joining \"Cafe\" failed: the security key is wrong (WLAN reason 42)\n", cafeProfile, cafeConnect);
    // A name is printed as every text from outside is: no character of it moves the cursor.
    row("control-characters-of-a-name-are-printed-as-?", {"wifi", "--connect", "No\x1b[2Jwhere\u202e"}, 0, 0, 1,
        "orvik: no WiFi device sees \"No?[2Jwhere?\"; if it is hidden, add --hidden\n");
    // Flag 1 is WLAN_CONNECTION_HIDDEN_NETWORK.
    row("hidden-joins-on-the-interface-with-the-best-link",
        {"wifi", "--connect", "Attic", "--hidden", "--password", "pw 1"}, 0, 0, 0,
        "joined \"Attic\" on Wireless adapter 1\n",
        {"<hex>4174746963</hex></SSID><nonBroadcast>true</nonBroadcast>", "<keyMaterial>pw 1</keyMaterial>"},
        kSecond + QStringLiteral(" mode=0 profile=Attic flags=1"));
    row("without-the-wlan-service", cafe, 1062, 0, 1,
        "orvik: joining a WiFi network needs the WLAN AutoConfig service");
    // The dialog types the password "hunter 2".
    row("accept-joins-the-network", {}, 0, 0, 0, "joined \"Home\" on Wireless adapter 0\n",
        {"<name>Home</name>", "<nonBroadcast>false</nonBroadcast>", "<keyMaterial>hunter 2</keyMaterial>"},
        QStringLiteral("interface=00001000-0000-4000-8000 mode=0 profile=Home flags=0"));
    row("accept-joins-a-typed-unlisted-name-as-hidden", {}, 0, 0, 0, "joined \"Attic\" on Wireless adapter 1\n",
        {"<name>Attic</name>", "<nonBroadcast>true</nonBroadcast>", "<keyMaterial>hunter 2</keyMaterial>"},
        kSecond + QStringLiteral(" mode=0 profile=Attic flags=1"), QStringLiteral("Attic"));

    // WPA3-Personal, and the WPA2 side of a transition network, with one profile. Fault: SAE made WPA2PSK.
    row("wpa3-personal-gets-sae-in-transition-mode", {"wifi", "--connect", "Sae", "--password", "pw"}, 0, 0, 0,
        "joined \"Sae\" on Wireless adapter 0\n",
        {"<authentication>WPA3SAE</authentication><encryption>AES</encryption><useOneX>false</useOneX>"
         "<transitionMode xmlns=\"http://www.microsoft.com/networking/WLAN/profile/v4\">true</transitionMode>"
         "</authEncryption><sharedKey>"},
        QStringLiteral("interface=00001000-0000-4000-8000 mode=0 profile=Sae flags=0"));
    // Faults: a WEP or 802.1X network given a pre-shared-key profile that cannot work.
    row("wep-refused", {"wifi", "--connect", "Wep", "--password", "pw"}, 0, 0, 1,
        "orvik: \"Wep\" was not joined: it uses WEP");
    row("enterprise-refused", {"wifi", "--connect", "Corp", "--password", "pw"}, 0, 0, 1,
        "orvik: \"Corp\" was not joined: it is an enterprise (802.1X) network");
    // The name as UTF-8 from the UTF-16 command line, whatever the ANSI code page. Fault: the ANSI
    // code page's bytes (E9 for the e with acute in Wine's 1252), which no device sees.
    row("name-taken-as-utf8", {"wifi", "--connect", QStringLiteral("Caf\u00E9"), "--password", "pw"}, 0, 0, 0,
        "joined \"Caf\xC3\xA9\" on Wireless adapter 0\n",
        {QStringLiteral("<name>Caf\u00E9</name>"), "<SSID><hex>436166C3A9</hex></SSID>"},
        QStringLiteral("interface=00001000-0000-4000-8000 mode=0 profile=Caf\u00E9 flags=0"));
    // Windows 11 with location access off for desktop apps refuses scans and lists. Faults: an empty
    // list with exit 0; "no WiFi device sees" when joining.
    const QByteArray locationOff = "orvik: Location access is off for desktop apps: Settings > Privacy & security > "
                                   "Location > Let desktop apps access your location\n";
    row("list-with-location-off", {"wifi", "--list"}, 0, 0, 1, locationOff, {}, {}, {}, "listing 5\n");
    row("join-with-location-off", cafe, 0, 0, 1, locationOff, {}, {}, {}, "listing 5\n");
    // A network with a profile needs no list: joined with that profile, none set. Fault: the location
    // message though a profile is there.
    row("join-with-location-off-and-a-profile", cafe, 0, 0, 0, "joined \"Cafe\" on Wireless adapter 1\n", {},
        cafeConnect, {}, "listing 5\nprofile 1 Cafe\n");
    // Windows lists a network once per profile and once without: the same network, joined once.
    row("listed-per-profile-and-without", cafe, 0, 0, 0, "joined \"Cafe\" on Wireless adapter 1\n", cafeProfile,
        cafeConnect, {}, "profile 1 Cafe\n");
    row("radios-switched-off", cafe, 0, 0, 1, "orvik: the WiFi radio is switched off; \"Cafe\" was not joined", {}, {},
        {}, "radio-off 0\nradio-off 1\n");
}

void tst_OrvikWifi::join()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, typed);
    QFETCH(DWORD, openResult);
    QFETCH(uint, failReason);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, profile);
    QFETCH(QString, connect);
    QFETCH(QByteArray, scenario);

    FakeWlan wlan(kRadios, openResult);
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

    const QStringList profiles = callsOf(wlan, "WlanSetProfile");
    QCOMPARE(profiles.size(), profile.isEmpty() ? 0 : 1);
    for (const QString &part : profile)
        QVERIFY2(profiles.constFirst().contains(part), qPrintable(part));
    // This user's profile (flag 2, WLAN_PROFILE_USER). Fault: one for every user of the machine.
    if (!profiles.isEmpty())
        QVERIFY2(profiles.constFirst().contains(QLatin1String(" flags=2 ")), qPrintable(profiles.constFirst()));
    // A join scans every interface and reads the lists after: the scan's end was waited for (the
    // stand-in tells it at once). Fault: the lists read without a scan.
    const QStringList log = wlan.log();
    const auto firstOf = [&log](const char *function) {
        return log.indexOf(QRegularExpression(QStringLiteral("%1 .*").arg(QLatin1String(function))));
    };
    if (!arguments.isEmpty() && arguments.contains(QLatin1String("--connect")) && openResult == 0)
        QVERIFY2(firstOf("WlanScan") >= 0 && firstOf("WlanScan") < firstOf("WlanGetAvailableNetworkList"),
                 qPrintable(log.join('\n')));
    const QStringList connects = callsOf(wlan, "WlanConnect");
    QCOMPARE(connects.size(), connect.isEmpty() ? 0 : 1);
    if (!connect.isEmpty()) {
        QVERIFY2(connects.constFirst().endsWith(connect), qPrintable(connects.constFirst()));
        // Told of the outcome from registration on, and no longer once it is known.
        const QStringList registrations = callsOf(wlan, "WlanRegisterNotification");
        QCOMPARE(registrations.size(), 2);
        QVERIFY(registrations[0].contains(QLatin1String(" source=8 ")) &&
                registrations[1].contains(QLatin1String(" source=0 ")));
        QVERIFY(wlan.log().indexOf(registrations[0]) < wlan.log().indexOf(connects.constFirst()));
    }
    QTRY_VERIFY(!wlan.reading().handleOpen()); // the dialog's scans end with it
    checkGivenBack(wlan);
}
