#include "host/base/buffer.h"
#include "host/base/orvikstring.h"
#include "tests/wifi/fakenetworkmanager.h"
#include "wifi/wifiscan_p.h"

#include <QTest>

#include <optional>

using namespace ORVIK;

namespace {

struct Device
{
    bool wifi = true;
    QList<FakeNetworkManager::Network> networks;
    FakeNetworkManager::Network foundByScan; // none when its name is empty
    bool refusesScans = false;
};
using Devices = QList<Device>;
using Networks = QList<FakeNetworkManager::Network>;

Device radio(const Networks &networks, bool refusesScans = false, const FakeNetworkManager::Network &foundByScan = {})
{
    return {true, networks, foundByScan, refusesScans};
}

} // namespace

Q_DECLARE_METATYPE(Devices)

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
    QTest::addColumn<Devices>("devices");
    QTest::addColumn<QByteArrayList>("entries"); // name and quality, as handed to the dialog

    QTest::newRow("no-networkmanager-falls-through") << false << Devices{} << QByteArrayList{};
    QTest::newRow("no-wifi-device-falls-through") << true << Devices{{false, {}, {}, false}} << QByteArrayList{};
    // The later device's reading of a name wins, as a later interface's does.
    QTest::newRow("two-devices-see-the-same-ssid")
        << true << Devices{radio({{"Cafe", 40}, {"Home", 70}}), radio({{"Cafe", 60}})}
        << QByteArrayList{"Home 70", "Cafe 60"};
    // Latin-1 "Café": not UTF-8.
    QTest::newRow("non-utf8-ssid-bytes-kept")
        << true << Devices{radio({{"Caf\xe9", 55}})} << QByteArrayList{"Caf\xe9 55"};
    QTest::newRow("hidden-access-point-left-out")
        << true << Devices{radio({{"", 90}, {"Cafe", 50}})} << QByteArrayList{"Cafe 50"};
    QTest::newRow("refused-scan-request-still-lists")
        << true << Devices{radio({{"Cafe", 50}}, true)} << QByteArrayList{"Cafe 50"};
    QTest::newRow("network-found-by-the-requested-scan")
        << true << Devices{radio({{"Cafe", 50}}, false, {"Late", 80})} << QByteArrayList{"Late 80", "Cafe 50"};
}

void tst_NetworkManagerWlan::scan()
{
    QFETCH(bool, networkManager);
    QFETCH(Devices, devices);
    QFETCH(QByteArrayList, entries);

    std::optional<FakeNetworkManager> fake;
    if (networkManager && !fake.emplace().isValid())
        QSKIP("python3-dbusmock is not installed");
    int wifiDevices = 0, accessPoints = 0, found = 0;
    for (const Device &device : devices) {
        const QString path = fake->addDevice(QStringLiteral("wlan%1").arg(wifiDevices), device.wifi);
        for (const FakeNetworkManager::Network &network : device.networks)
            fake->addAccessPoint(path, network);
        accessPoints += int(device.networks.size());
        if (!device.foundByScan.ssid.isEmpty()) {
            fake->findOnScan(path, device.foundByScan);
            ++found;
        }
        if (device.refusesScans)
            fake->refuseScans(path);
        wifiDevices += device.wifi ? 1 : 0;
    }
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
    QCOMPARE(calls.count(QStringLiteral("RequestScan {}")), wifiDevices);
    QCOMPARE(calls.count(QStringLiteral("GetAllAccessPoints")), wifiDevices + found);
    QStringList reads = calls.filter(QStringLiteral("GetAll /org/freedesktop/NetworkManager/AccessPoint/"));
    QCOMPARE(reads.removeDuplicates(), 0);
    QCOMPARE(reads.size(), accessPoints + found);
}

QTEST_GUILESS_MAIN(tst_NetworkManagerWlan)
#include "tst_networkmanagerwlan.moc"
