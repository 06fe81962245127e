#include "host/widgets/qcustomcombobox.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"
#include "wifi/wificonnectdialog.h"
#include "wifi/wifiscan_p.h"

#include <QTest>
#include <QTimer>

using namespace ORVIK;

namespace {

using Network = FakeWlan::Network;
using Poll = FakeWlan::Poll;
using Interface = FakeWlan::Interface;

QList<QByteArray> bytesOf(const Buffer<String> &names)
{
    QList<QByteArray> out;
    for (const String &name : names)
        out.append(QByteArray(name.data(), static_cast<qsizetype>(name.length())));
    return out;
}

QList<int> listOf(const Buffer<int> &qualities)
{
    return QList<int>(qualities.begin(), qualities.end());
}

QList<QByteArray> entriesOf(const WifiConnectDialog &dialog)
{
    QList<QByteArray> out;
    const auto *combo = dialog.findChild<QCustomComboBox *>();
    for (int i = 0; combo && i < combo->count(); ++i)
        out.append(combo->itemText(i).toUtf8() + ' ' +
                   QByteArray::number(combo->itemData(i, WifiConnectDialog::SignalQualityRole).toInt()));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<QByteArray>)

class tst_WifiScan : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void apiMergesEntriesPollsAndInterfaces();
    void apiOrdersStrongestThenLowerCasedName();
    void apiHandlesEventsWhilePolling();
    void apiFindsNothing_data();
    void apiFindsNothing();
    void networkOrder_data();
    void networkOrder();
    void parseNetshOutput_data();
    void parseNetshOutput();
    void scanAndPopulate_data();
    void scanAndPopulate();
};

void tst_WifiScan::apiMergesEntriesPollsAndInterfaces()
{
    FakeWlan wlan;
    wlan.scanResult = 1; // a refused scan request still lets the lists be read
    Interface first;
    first.polls = {
        Poll{false, {{"Dup", 10}, {"Dup", 20}, {"Home", 61}, {"Ghost", 99, 0}, {"  Spaced  ", 40}, {"Gone", 30}}},
        Poll{false, {{"Dup", 50}, {"Late", 35}}}};
    Interface second;
    second.polls = {Poll{true, {}}, Poll{false, {{"home", 60}, {"Dup", 70}}}};
    wlan.interfaces = {first, second};

    Buffer<String> names;
    Buffer<int> qualities;
    QVERIFY(scanWithWlanApi(names, qualities));

    // Last read wins (later entry, later poll, later interface); a name once read stays;
    // letter case and spaces make names of their own; a zero-length SSID is no name.
    QCOMPARE(bytesOf(names), (QList<QByteArray>{"Dup", "Home", "home", "  Spaced  ", "Late", "Gone"}));
    QCOMPARE(listOf(qualities), (QList<int>{70, 61, 60, 40, 35, 30}));
    QCOMPARE(wlan.scannedInterfaces, (QList<int>{0, 1}));
    // Polling goes on after networks were found, on every interface.
    QVERIFY(wlan.interfaces[0].reads >= 2);
    QVERIFY(wlan.interfaces[1].reads >= 2);
    QCOMPARE(wlan.lastClientVersion, DWORD(2));
    QCOMPARE(wlan.lastListFlags, DWORD(2));
    QCOMPARE(wlan.opened, 1);
    QVERIFY2(wlan.balanced(), "a handle or list was not given back");
}

void tst_WifiScan::apiOrdersStrongestThenLowerCasedName()
{
    FakeWlan wlan;
    Interface radio;
    radio.polls = {Poll{false, {{"Beta", 80}, {"alpha", 80}, {"Gamma", 95}}}};
    wlan.interfaces = {radio};

    Buffer<String> names;
    Buffer<int> qualities;
    QVERIFY(scanWithWlanApi(names, qualities));
    QCOMPARE(bytesOf(names), (QList<QByteArray>{"Gamma", "alpha", "Beta"}));
    QCOMPARE(listOf(qualities), (QList<int>{95, 80, 80}));
    QVERIFY(wlan.balanced());
}

void tst_WifiScan::apiHandlesEventsWhilePolling()
{
    FakeWlan wlan;
    Interface radio;
    radio.polls = {Poll{false, {{"Cafe", 50}}}};
    wlan.interfaces = {radio};

    bool fired = false;
    bool firedDuringScan = false;
    QTimer::singleShot(0, this, [&] {
        fired = true;
        firedDuringScan = wlan.handleOpen() && wlan.interfaces[0].reads > 0;
    });
    Buffer<String> names;
    Buffer<int> qualities;
    QVERIFY(scanWithWlanApi(names, qualities));
    QVERIFY(fired);
    QVERIFY(firedDuringScan);
    QVERIFY(wlan.balanced());
}

void tst_WifiScan::apiFindsNothing_data()
{
    QTest::addColumn<DWORD>("openResult");
    QTest::addColumn<DWORD>("enumResult");
    QTest::addColumn<int>("interfaceCount");
    QTest::addColumn<QList<Network>>("networks");

    QTest::newRow("no-wlan-service") << DWORD(1062) << DWORD(0) << 1 << QList<Network>{{"Cafe", 50}};
    QTest::newRow("interfaces-not-listed") << DWORD(0) << DWORD(5) << 1 << QList<Network>{{"Cafe", 50}};
    QTest::newRow("no-wireless-interface") << DWORD(0) << DWORD(0) << 0 << QList<Network>{};
    QTest::newRow("only-nameless-networks") << DWORD(0) << DWORD(0) << 1 << QList<Network>{{"", 70}, {"Hidden", 40, 0}};
}

void tst_WifiScan::apiFindsNothing()
{
    QFETCH(DWORD, openResult);
    QFETCH(DWORD, enumResult);
    QFETCH(int, interfaceCount);
    QFETCH(QList<Network>, networks);

    FakeWlan wlan;
    wlan.openResult = openResult;
    wlan.enumResult = enumResult;
    for (int i = 0; i < interfaceCount; ++i)
        wlan.interfaces.append(Interface{{Poll{false, networks}}, 0});

    Buffer<String> names{"kept"};
    Buffer<int> qualities{7};
    QVERIFY(!scanWithWlanApi(names, qualities));
    QCOMPARE(bytesOf(names), QList<QByteArray>{"kept"});
    QCOMPARE(listOf(qualities), QList<int>{7});
    QVERIFY2(wlan.balanced(), "a handle or list was not given back");
}

void tst_WifiScan::networkOrder_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("otherQuality");
    QTest::addColumn<QByteArray>("otherName");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");

    QTest::newRow("stronger-first-whatever-the-name")
        << 90 << QByteArray("zulu") << 10 << QByteArray("alpha") << true << false;
    QTest::newRow("signed-comparison") << 0 << QByteArray("b") << -5 << QByteArray("a") << true << false;
    QTest::newRow("equal-quality-lower-cased-name")
        << 80 << QByteArray("alpha") << 80 << QByteArray("Beta") << true << false;
    QTest::newRow("case-only-difference-has-no-order")
        << 80 << QByteArray("Home") << 80 << QByteArray("home") << false << false;
    QTest::newRow("bytes-above-ascii-after-letters")
        << 50 << QByteArray("\xc3\xa9t\xc3\xa9") << 50 << QByteArray("zz") << false << true;
}

void tst_WifiScan::networkOrder()
{
    QFETCH(int, quality);
    QFETCH(QByteArray, name);
    QFETCH(int, otherQuality);
    QFETCH(QByteArray, otherName);
    QFETCH(bool, before);
    QFETCH(bool, after);

    const String a(name.constData(), static_cast<uint32_t>(name.size()));
    const String b(otherName.constData(), static_cast<uint32_t>(otherName.size()));
    QCOMPARE(comesBefore(quality, a, otherQuality, b), before);
    QCOMPARE(comesBefore(otherQuality, b, quality, a), after);
}

void tst_WifiScan::parseNetshOutput_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QList<int>>("qualities");

    QTest::newRow("typical-output-with-bssid-lines")
        << QStringLiteral("\nInterface name : Wi-Fi\nThere are 2 networks currently visible.\n\n"
                          "SSID 1 : Cafe Nord\n    Network type            : Infrastructure\n"
                          "    Authentication          : WPA2-Personal\n"
                          "    BSSID 1                 : 00:11:22:33:44:55\n         Signal             : 81%\n"
                          "         Radio type         : 802.11ac\n\n"
                          "SSID 2 : Library\n    BSSID 1                 : 66:77:88:99:aa:bb\n"
                          "         Signal             : 40%\n")
        << QList<QByteArray>{"Cafe Nord", "Library"} << QList<int>{81, 40};
    QTest::newRow("crlf-lines") << QStringLiteral(
                                       "SSID 1 : Cafe\r\n    Signal : 64%\r\nSSID 2 : Bar \r\nSignal: 9%\r\n")
                                << QList<QByteArray>{"Cafe", "Bar"} << QList<int>{64, 9};
    QTest::newRow("first-signal-line-only")
        << QStringLiteral("SSID 1 : Cafe\nSignal : 40%\nSignal : 90%\n") << QList<QByteArray>{"Cafe"} << QList<int>{40};
    QTest::newRow("ssid-without-signal") << QStringLiteral("SSID 1 : Lonely\n    Authentication : Open\n")
                                         << QList<QByteArray>{} << QList<int>{};
    QTest::newRow("two-ssids-then-one-signal")
        << QStringLiteral("SSID 1 : A\nSSID 2 : B\nSignal : 70%\n") << QList<QByteArray>{"B"} << QList<int>{70};
    QTest::newRow("hidden-name-clears-the-current-one")
        << QStringLiteral("SSID 1 : Before\nSSID 2 :    \nSignal : 55%\nSSID 3 : \r\nSignal : 60%\n")
        << QList<QByteArray>{} << QList<int>{};
    QTest::newRow("ssid-line-ending-at-the-colon-keeps-the-name")
        << QStringLiteral("SSID 1 : Earlier\nSSID 2 :\nSignal : 33%\n") << QList<QByteArray>{"Earlier"}
        << QList<int>{33};
    QTest::newRow("bssid-is-not-an-ssid-line")
        << QStringLiteral("BSSID 1 : 00:11:22:33:44:55\nSignal : 80%\nXSSID 2 : Fake\nSignal : 81%\n")
        << QList<QByteArray>{} << QList<int>{};
    QTest::newRow("space-before-percent-does-not-match")
        << QStringLiteral("SSID 1 : Cafe\nSignal : 40 %\nSignal : 41%\n") << QList<QByteArray>{"Cafe"}
        << QList<int>{41};
    QTest::newRow("signal-before-any-ssid-is-ignored")
        << QStringLiteral("Signal : 99%\nSSID 1 : X\nSignal : 5%\n") << QList<QByteArray>{"X"} << QList<int>{5};
    QTest::newRow("duplicates-kept-in-output-order")
        << QStringLiteral("SSID 1 : Weak\nSignal : 10%\nSSID 2 : Strong\nSignal : 99%\nSSID 3 : Weak\nSignal : 12%\n")
        << QList<QByteArray>{"Weak", "Strong", "Weak"} << QList<int>{10, 99, 12};
    QTest::newRow("name-trimmed-inner-spaces-kept") << QStringLiteral("  SSID 12  :   My  Net \t\n  Signal:100%  \n")
                                                    << QList<QByteArray>{"My  Net"} << QList<int>{100};
    QTest::newRow("utf8-name") << QStringLiteral("SSID 1 : Caf\u00e9\nSignal : 50%\n")
                               << QList<QByteArray>{"Caf\xc3\xa9"} << QList<int>{50};
    QTest::newRow("no-matching-line") << QStringLiteral("There is no wireless interface on the system.\n")
                                      << QList<QByteArray>{} << QList<int>{};
}

void tst_WifiScan::parseNetshOutput()
{
    QFETCH(QString, text);
    QFETCH(QList<QByteArray>, names);
    QFETCH(QList<int>, qualities);

    Buffer<String> parsedNames;
    Buffer<int> parsedQualities;
    ORVIK::parseNetshOutput(text, parsedNames, parsedQualities);
    QCOMPARE(bytesOf(parsedNames), names);
    QCOMPARE(listOf(parsedQualities), qualities);
}

void tst_WifiScan::scanAndPopulate_data()
{
    QTest::addColumn<bool>("serviceFinds");
    QTest::addColumn<bool>("commandPresent");
    QTest::addColumn<QList<QByteArray>>("entries");

    QTest::newRow("service-finds-nothing-command-lists")
        << false << true << QList<QByteArray>{"Weak 10", "Spaced 70", "Weak 12"};
    QTest::newRow("service-wins-command-not-run") << true << true << QList<QByteArray>{"Radio 90", " Radio  20"};
    QTest::newRow("command-missing-empty-list") << false << false << QList<QByteArray>{};
}

void tst_WifiScan::scanAndPopulate()
{
    QFETCH(bool, serviceFinds);
    QFETCH(bool, commandPresent);
    QFETCH(QList<QByteArray>, entries);

    FakeWlan wlan;
    if (serviceFinds)
        wlan.interfaces = {Interface{{Poll{false, {{"Radio", 90}, {" Radio ", 20}}}}, 0}};
    else
        wlan.openResult = 1062;
    const QByteArray output = "SSID 1 : Weak\r\nSignal : 10%\r\nSSID 2 :  Spaced \r\nSignal : 70%\r\n"
                              "SSID 3 : Weak\r\nSignal : 12%\r\n";
    std::unique_ptr<FakeNetsh> netsh =
        commandPresent ? std::make_unique<FakeNetsh>(output) : std::make_unique<FakeNetsh>();
    QVERIFY(netsh->isValid());

    WifiConnectDialog dialog;
    dialog.setSSIDs({"Old"}, {50});
    dialog.scanAndPopulate();

    QCOMPARE(entriesOf(dialog), entries);
    const auto *combo = dialog.findChild<QCustomComboBox *>();
    QVERIFY(combo->isEditable()); // the result was handed over, also when empty
    QCOMPARE(combo->accessibleName(), QStringLiteral("SSID"));
    if (commandPresent && !serviceFinds)
        QCOMPARE(netsh->arguments(), (QStringList{"wlan", "show", "networks", "mode=Bssid"}));
    else
        QVERIFY(!netsh->ran());
    QVERIFY(wlan.balanced());
}

QTEST_MAIN(tst_WifiScan)
#include "tst_wifiscan.moc"
