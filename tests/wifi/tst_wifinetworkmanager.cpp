#include "tests/wifi/fakenetworkmanager.h"
#include "wifi/wifiscan_p.h"

#include <QObject>
#include <QTest>
#include <QTimer>

using namespace ORVIK;

namespace {

using Sighting = FakeNetworkManager::Network;
using Radios = QList<FakeNetworkManager::Networks>;
// How NetworkManager answers a scan request: at once, with a refusal, announcing a new network before
// it can be read (for 300 ms), or never (it owns its name and answers nothing).
enum Service { Answers, RefusesScans, ReadableLate, NeverAnswers };

} // namespace

Q_DECLARE_METATYPE(Sighting)
Q_DECLARE_METATYPE(Radios)

// The scan on Linux, through NetworkManager: what it lists, what it asks of NetworkManager, and
// that the dialog's thread keeps handling its events throughout, also when NetworkManager hangs.
class tst_WifiNetworkManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.isValid()); }
    void networkManagerScan_data();
    void networkManagerScan();

private:
    PrivateSystemBus m_bus; // without NetworkManager unless a test starts one
};

void tst_WifiNetworkManager::networkManagerScan_data()
{
    QTest::addColumn<int>("service");            // a Service
    QTest::addColumn<Radios>("radios");          // what each WiFi device sees; a wired device is always there
    QTest::addColumn<Sighting>("foundByScan");   // a new network, or a new strength of a seen one, if named
    QTest::addColumn<QByteArrayList>("entries"); // name and quality, as handed to the dialog
    QTest::addColumn<int>("reads");              // access points read: those seen and one new per device

    // Most rows: NetworkManager answers, every scan request is accepted and finds nothing new.
    const auto row = [](const char *tag, const Radios &radios, const QByteArrayList &entries, int reads,
                        const Sighting &found = {}, Service service = Answers) {
        QTest::newRow(tag) << int(service) << radios << found << entries << reads;
    };
    row("no-wifi-device-falls-through", {}, {}, 0);
    row("never-answering-service-falls-through", {}, {}, 0, {}, NeverAnswers);
    // Each device lists only its own access points: the later device's reading of a name wins, as a
    // later interface's does, though weaker.
    row("each-device-lists-only-what-it-sees", {{{"Cafe", 60}, {"Home", 70}}, {{"Cafe", 40}}}, {"Home 70", "Cafe 40"},
        3);
    // A network served by two access points has the strength of the stronger, listed first or not.
    row("two-access-points-one-ssid-strongest-counts", {{{"Office", 80}, {"Home", 60}, {"Office", 30}}},
        {"Office 80", "Home 60"}, 3);
    // An SSID's bytes as they are: Latin-1 "Café" (not UTF-8), the longest name whole, a hidden one left out.
    const QByteArray longest = "thirty-two-bytes-network-name-32";
    row("ssid-bytes-kept-hidden-left-out", {{{"", 90}, {"Caf\xe9", 55}, {longest, 45}}},
        {"Caf\xe9 55", longest + " 45"}, 3);
    row("refused-scan-request-still-lists", {{{"Cafe", 50}}}, {"Cafe 50"}, 1, {}, RefusesScans);
    row("network-found-by-the-requested-scan", {{{"Cafe", 50}}}, {"Late 80", "Cafe 50"}, 2, {"Late", 80});
    row("strength-changed-during-the-scan", {{{"Cafe", 50}, {"Home", 70}}}, {"Cafe 90", "Home 70"}, 2, {"Cafe", 90});
    // Announced before it can be read: only a read at a later poll, after the first one failed, sees it.
    row("access-point-read-again-after-a-failed-read", {{{"Cafe", 50}}}, {"Late 80", "Cafe 50"}, 2, {"Late", 80},
        ReadableLate);
}

void tst_WifiNetworkManager::networkManagerScan()
{
    QFETCH(int, service);
    QFETCH(Radios, radios);
    QFETCH(Sighting, foundByScan);
    QFETCH(QByteArrayList, entries);
    QFETCH(int, reads);

    FakeNetworkManager fake(radios);
    if (!fake.isValid())
        QSKIP("python3-dbusmock is not installed");
    fake.answerScans(service == RefusesScans, foundByScan, service == ReadableLate);
    if (service == NeverAnswers)
        fake.hang();
    const qsizetype before = fake.log().size();

    // The dialog's thread keeps turning while the scan waits for the service: a timer of that thread
    // fires during the scan, which a blocking call would not let happen.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(0);

    QObject requester;
    Buffer<String> names;
    Buffer<int> qualities;
    QCOMPARE(scanWithWlanApi(names, qualities, &requester), !entries.isEmpty());
    QVERIFY2(ticks > 0, "the scan blocked the dialog's thread");
    QByteArrayList listed;
    for (uint32_t i = 0; i < names.size(); ++i)
        listed.append(QByteArray(names[i].data(), names[i].length()) + ' ' + QByteArray::number(qualities[i]));
    QCOMPARE(listed, entries);
    if (service == NeverAnswers)
        return;

    // Each WiFi device is asked to scan and its list read once. However often the scan polls,
    // each access point is read once with success (failed reads leave no trace in the stand-in's
    // log): later changes arrive as NetworkManager's signals.
    const QStringList calls = fake.log().mid(before);
    QCOMPARE(calls.count(QStringLiteral("RequestScan {}")), radios.size());
    QCOMPARE(calls.count(QStringLiteral("GetAllAccessPoints")), radios.size());
    QStringList accessPointReads = calls.filter(QStringLiteral("GetAll /org/freedesktop/NetworkManager/AccessPoint/"));
    QCOMPARE(accessPointReads.removeDuplicates(), 0);
    QCOMPARE(accessPointReads.size(), reads);
}

QTEST_GUILESS_MAIN(tst_WifiNetworkManager)
#include "tst_wifinetworkmanager.moc"
