#include "host/base/buffer.h"
#include "host/base/orvikstring.h"
#include "tests/wifi/fakenetworkmanager.h"
#include "wifi/wifiscan_p.h"

#include <QTest>

#include <optional>

using namespace ORVIK;

using Network = FakeNetworkManager::Network;
using Radios = QList<FakeNetworkManager::Networks>;
Q_DECLARE_METATYPE(Network)
Q_DECLARE_METATYPE(Radios)

// The scan on Linux, through NetworkManager: what it lists, and what it asks of NetworkManager.
class tst_NetworkManagerWlan : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.isValid()); }
    void scan_data();
    void scan();

private:
    PrivateSystemBus m_bus;
};

void tst_NetworkManagerWlan::scan_data()
{
    QTest::addColumn<bool>("networkManager");
    QTest::addColumn<Radios>("radios");          // what each WiFi device sees; a wired device is always there
    QTest::addColumn<bool>("refusesScans");      // every WiFi device refuses its scan request
    QTest::addColumn<Network>("foundByScan");    // what every WiFi device's scan request finds, if named
    QTest::addColumn<QByteArrayList>("entries"); // name and quality, as handed to the dialog

    QTest::newRow("no-networkmanager-falls-through") << false << Radios{} << false << Network{} << QByteArrayList{};
    QTest::newRow("no-wifi-device-falls-through") << true << Radios{} << false << Network{} << QByteArrayList{};
    // The later device's reading of a name wins, as a later interface's does.
    QTest::newRow("two-devices-see-the-same-ssid") << true << Radios{{{"Cafe", 40}, {"Home", 70}}, {{"Cafe", 60}}}
                                                   << false << Network{} << QByteArrayList{"Home 70", "Cafe 60"};
    // Latin-1 "Café": not UTF-8.
    QTest::newRow("non-utf8-ssid-bytes-kept")
        << true << Radios{{{"Caf\xe9", 55}}} << false << Network{} << QByteArrayList{"Caf\xe9 55"};
    QTest::newRow("hidden-access-point-left-out")
        << true << Radios{{{"", 90}, {"Cafe", 50}}} << false << Network{} << QByteArrayList{"Cafe 50"};
    QTest::newRow("refused-scan-request-still-lists")
        << true << Radios{{{"Cafe", 50}}} << true << Network{} << QByteArrayList{"Cafe 50"};
    QTest::newRow("network-found-by-the-requested-scan")
        << true << Radios{{{"Cafe", 50}}} << false << Network{"Late", 80} << QByteArrayList{"Late 80", "Cafe 50"};
}

void tst_NetworkManagerWlan::scan()
{
    QFETCH(bool, networkManager);
    QFETCH(Radios, radios);
    QFETCH(bool, refusesScans);
    QFETCH(Network, foundByScan);
    QFETCH(QByteArrayList, entries);

    std::optional<FakeNetworkManager> fake;
    if (networkManager && !fake.emplace(radios).isValid())
        QSKIP("python3-dbusmock is not installed");
    if (fake)
        fake->answerScans(refusesScans, foundByScan);
    const int found = foundByScan.ssid.isEmpty() ? 0 : int(radios.size());
    int accessPoints = found;
    for (const FakeNetworkManager::Networks &networks : radios)
        accessPoints += int(networks.size());
    const qsizetype before = fake ? fake->log().size() : 0;

    QObject requester;
    Buffer<String> names;
    Buffer<int> qualities;
    QCOMPARE(scanWithWlanApi(names, qualities, &requester), !entries.isEmpty());
    QByteArrayList listed;
    for (uint32_t i = 0; i < names.size(); ++i)
        listed.append(QByteArray(names[i].data(), names[i].length()) + ' ' + QByteArray::number(qualities[i]));
    QCOMPARE(listed, entries);
    if (!fake)
        return;

    // Each WiFi device is asked to scan once. However often the scan polls, each access point is
    // read once, and a device's list again only after it announced a change.
    const QStringList calls = fake->log().mid(before);
    QCOMPARE(calls.count(QStringLiteral("RequestScan {}")), radios.size());
    QCOMPARE(calls.count(QStringLiteral("GetAllAccessPoints")), radios.size() + found);
    QStringList reads = calls.filter(QStringLiteral("GetAll /org/freedesktop/NetworkManager/AccessPoint/"));
    QCOMPARE(reads.removeDuplicates(), 0);
    QCOMPARE(reads.size(), accessPoints);
}

QTEST_GUILESS_MAIN(tst_NetworkManagerWlan)
#include "tst_networkmanagerwlan.moc"
