#include "host/widgets/button.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/toggle.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"
#include "wifi/wificonnectdialog.h"
#include "wifi/wifiscan_p.h"

#include <QFile>
#include <QGroupBox>
#include <QPointer>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace ORVIK;

namespace {

// The dialog's one control of a type.
template <typename T>
T *control(const QWidget &dialog)
{
    const QList<T *> found = dialog.findChildren<T *>();
    return found.size() == 1 ? found.first() : nullptr;
}

Button *button(const QWidget &dialog, const QString &text)
{
    for (Button *candidate : dialog.findChildren<Button *>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

QStringList entriesOf(const WifiConnectDialog &dialog)
{
    QStringList entries;
    const auto *combo = control<QCustomComboBox>(dialog);
    for (int i = 0; i < combo->count(); ++i)
        entries.append(combo->itemText(i) + QLatin1Char(' ') +
                       QString::number(combo->itemData(i, WifiConnectDialog::SignalQualityRole).toInt()));
    return entries;
}

using Interfaces = QList<FakeWlan::Interface>;
using Names = Buffer<String>;

// One interface that reads the same networks every time.
Interfaces radio(const FakeWlan::Poll &networks)
{
    return {FakeWlan::Interface{networks}};
}

// What netsh prints on Windows: BSSID lines, padding, a blank line, a name printed twice, and
// a last name without a signal line.
const QByteArray kCommandOutput = "SSID 1 : Weak\r\n    BSSID 1 : 00:11:22:33:44:55\r\n         Signal : 10%\r\n"
                                  "  SSID 12  :   My  Net \t\r\nSignal:70%  \r\n"
                                  "SSID 3 : Weak\r\n\r\n    Signal : 12%\r\nSSID 4 : Library\r\n";
// In the order of the output, names trimmed.
const QStringList kCommandEntries = {"Weak 10", "My  Net 70", "Weak 12"};

} // namespace

Q_DECLARE_METATYPE(Interfaces)
Q_DECLARE_METATYPE(Names)

// The dialog, and its scan through a scripted WLAN service and a scripted netsh.
class tst_WifiConnectDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void scanAndPopulate_data();
    void scanAndPopulate();
    void controlsLayoutAndPassword();
    void signalBars_data();
    void signalBars();
    void periodicScanning_data();
    void periodicScanning();
    void nameSurvivesRescan_data();
    void nameSurvivesRescan();
    void deletedDuringScan_data();
    void deletedDuringScan();
};

void tst_WifiConnectDialog::scanAndPopulate_data()
{
    QTest::addColumn<DWORD>("openResult");
    QTest::addColumn<DWORD>("enumResult");
    QTest::addColumn<Interfaces>("interfaces");
    QTest::addColumn<QByteArray>("netshOutput"); // null when the command is missing
    QTest::addColumn<bool>("netshRuns");
    QTest::addColumn<QStringList>("entries"); // name and quality as the dialog lists them

    const auto row = [](const char *tag, const Interfaces &interfaces, bool netshRuns, const QStringList &entries,
                        DWORD openResult = 0, DWORD enumResult = 0, const QByteArray &netshOutput = kCommandOutput) {
        QTest::newRow(tag) << openResult << enumResult << interfaces << netshOutput << netshRuns << entries;
    };
    // What each interface lists a second after its scan request counts: both are polled for longer
    // than that. The second lists nothing at first; a name once read stays although later reads lack it.
    const Interfaces merging = {
        {{{"Dup", 10}, {"Dup", 20}, {"Ghost", 99, 0}, {"Gone", 30}}, {{"Dup", 50}, {"Late", 35}}},
        {{}, {{"Dup", 70}, {"Late", 36}}}};
    row("wlan-last-read-wins-across-entries-polls-and-interfaces", merging, false, {"Dup 70", "Late 36", "Gone 30"});
    // Letter case and spaces make names of their own; bytes above ASCII come after the letters.
    const Interfaces mixed = {{{{"Beta", 80}, {"alpha", 80}, {"Gamma", 95}, {"Home", 60}}},
                              {{{"home", 61}, {" Home ", 59}, {"zz", 50}, {"\xc3\xa9t\xc3\xa9", 50}}}};
    row("wlan-strongest-first-then-lower-cased-name", mixed, false,
        {"Gamma 95", "alpha 80", "Beta 80", "home 61", "Home 60", " Home  59", "zz 50", "\u00e9t\u00e9 50"});
    // The reported length counts, not the bytes.
    row("wlan-only-nameless-networks-fall-through", radio({{"Hidden", 40, 0}}), true, kCommandEntries);
    row("wlan-interfaces-not-listed-falls-through", radio({{"Cafe", 50}}), true, kCommandEntries, 0, 5);
    // Without the service, a listing as netsh prints it in English: several access points of one
    // network, of which the first counts, and a network without a name, which is left out.
    QFile listing(QStringLiteral(":/netsh-bssid-en.txt"));
    QVERIFY(listing.open(QIODevice::ReadOnly));
    row("wlan-service-missing-english-listing", {}, true,
        {"Harbour View 86", "Corner Bakery Guest 40", "DIRECT-7F-Printer 18"}, 1062, 0, listing.readAll());
    row("command-missing-empty-list", {}, false, {}, 0, 0, QByteArray());
    // No wireless interface answers: the list is the command's output, parsed. Of two SSID lines the
    // later names the signal; a blank name clears the one before, a line ending at the colon does not;
    // "40 %" is no signal, and a name takes the first signal after it only.
    row("command-without-interfaces", {}, true, {"B 70", "Earlier 33", "Cafe 41"}, 0, 0,
        "SSID 1 : A\nSSID 2 : B\nSignal : 70%\nSSID 3 : Before\nSSID 4 :    \nSignal : 55%\n"
        "SSID 5 : Earlier\nSSID 6 :\nSignal : 33%\nSSID 7 : Cafe\nSignal : 40 %\nSignal : 41%\nSignal : 90%\n");
}

void tst_WifiConnectDialog::scanAndPopulate()
{
    QFETCH(DWORD, openResult);
    QFETCH(DWORD, enumResult);
    QFETCH(Interfaces, interfaces);
    QFETCH(QByteArray, netshOutput);
    QFETCH(bool, netshRuns);
    QFETCH(QStringList, entries);

    FakeWlan wlan(interfaces, openResult, enumResult);
    FakeNetsh netsh(netshOutput);
    WifiConnectDialog dialog;
    dialog.scanAndPopulate();
    QCOMPARE(entriesOf(dialog), entries);
    // The result was handed over, also when empty: only setSSIDs titles the combo box.
    QCOMPARE(control<QCustomComboBox>(dialog)->toolTip(), QStringLiteral("SSID"));

    // The command runs only when the WLAN service found no name.
    const bool reached = openResult == 0 && enumResult == 0;
    const QStringList ran = {"wlan", "show", "networks", "mode=Bssid"};
    QCOMPARE(netsh.arguments(), netshRuns ? ran : QStringList());
    QVERIFY2(wlan.balanced(), "a handle or list was not given back");

    // In order: each interface asked to scan, then its list read (and freed right after) until the
    // next interface's turn; the interface list freed before the handle is closed.
    QStringList calls = {QLatin1String(openResult == 0 ? "open" : "open failed")};
    if (openResult == 0)
        calls.append(QLatin1String(enumResult == 0 ? "enum" : "enum failed"));
    for (qsizetype i = 0; reached && i < interfaces.size(); ++i)
        calls << QStringLiteral("scan %1").arg(i)
              << QString::fromLatin1(interfaces[i].isEmpty() ? "list %1 flags=2 failed" : "list %1 flags=2").arg(i);
    if (reached)
        calls.append(QStringLiteral("free interfaces"));
    if (openResult == 0)
        calls.append(QStringLiteral("close"));
    QCOMPARE(wlan.calls(), calls);
}

void tst_WifiConnectDialog::controlsLayoutAndPassword()
{
    WifiConnectDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select WiFi"));
    QStringList boxes;
    for (const QGroupBox *box : dialog.findChildren<QGroupBox *>())
        boxes.append(box->title());
    QCOMPARE(boxes, (QStringList{"Network", "Password"}));
    Button *scan = button(dialog, "Scan");
    QVERIFY(scan && scan->isCheckable() && !scan->isChecked() && !scan->icon().isNull());
    auto *toggle = control<Toggle>(dialog);
    QVERIFY(toggle->text() == QLatin1String("Show password") && !toggle->isChecked());
    auto *edit = control<QCustomLineEdit>(dialog);
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    auto *combo = control<QCustomComboBox>(dialog);
    // No entries and no title until the first scan result, and no timer until scanning starts.
    QVERIFY(combo->count() == 0 && !combo->isEditable() && combo->toolTip().isEmpty());
    QVERIFY(dialog.findChildren<QTimer *>(Qt::FindDirectChildrenOnly).isEmpty());

    // The hint is at least 15 small icons wide and keeps the height of the plain widget hint.
    const int iconSize = dialog.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, nullptr);
    QVERIFY(iconSize > 0 && dialog.sizeHint().width() >= std::max(15 * iconSize, dialog.QWidget::sizeHint().width()));
    QCOMPARE(dialog.sizeHint().height(), dialog.QWidget::sizeHint().height());

    // Network box on top, then the password box, then Cancel left of Accept at the bottom right.
    dialog.resize(dialog.sizeHint());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect cancel = button(dialog, "Cancel")->geometry();
    const QRect accept = button(dialog, "Accept")->geometry();
    QVERIFY(combo->parentWidget()->geometry().bottom() < toggle->parentWidget()->geometry().top());
    QVERIFY(toggle->parentWidget()->geometry().bottom() < cancel.top());
    QVERIFY(cancel.right() < accept.left() && accept.top() == cancel.top());
    QVERIFY(scan->geometry().left() > combo->geometry().right());

    // A password typed while hidden survives every switch of "Show password".
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("p4ss word!"));
    const PasswordString typed = dialog.currentPassword();
    QCOMPARE(StringStream<QString>::fromString(typed.decode()), QStringLiteral("p4ss word!"));
    for (int click = 1; click <= 4; ++click) {
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(edit->echoMode(), click % 2 ? QLineEdit::Normal : QLineEdit::Password);
        QCOMPARE(edit->text(), QStringLiteral("p4ss word!"));
        QCOMPARE(dialog.currentPassword(), typed);
    }
    // setShowPassword switches as the user does.
    dialog.setShowPassword(true);
    QCOMPARE(edit->echoMode(), QLineEdit::Normal);
}

void tst_WifiConnectDialog::signalBars_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("litBars");
    // Only 100 lights all four; below 0 and above 100 are clamped.
    for (const auto &[quality, litBars] : {std::pair{-30, 0}, {24, 0}, {25, 1}, {99, 3}, {100, 4}, {150, 4}})
        QTest::addRow("quality-%d-lights-%d", quality, litBars) << quality << litBars;
}

void tst_WifiConnectDialog::signalBars()
{
    QFETCH(int, quality);
    QFETCH(int, litBars);

    WifiConnectDialog dialog;
    dialog.setSSIDs({"Other", "Net"}, {100, quality});
    const QPixmap pixmap = control<QCustomComboBox>(dialog)->itemIcon(1).pixmap(QSize(24, 16));
    const QImage icon = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    const QColor lit = dialog.palette().color(QPalette::Highlight);
    // Bar k is 4 pixels wide at x = 5k, 4(k+1) high on the bottom edge; all else is transparent.
    for (int pixel = 0; pixel < 24 * 16; ++pixel) {
        const int x = pixel % 24, y = pixel / 24, bar = x / 5;
        const QColor colour = icon.pixelColor(x, y);
        const bool inBar = bar < 4 && x % 5 < 4 && y >= 12 - 4 * bar;
        const bool right = inBar ? colour == (bar < litBars ? lit : QColor(Qt::lightGray)) : colour.alpha() == 0;
        QVERIFY2(right, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
    }
}

void tst_WifiConnectDialog::periodicScanning_data()
{
    QTest::addColumn<QString>("stoppedBy"); // a button's text, or empty for stopAutoScan
    QTest::newRow("stopAutoScan") << QString();
    QTest::newRow("accept-button") << QStringLiteral("Accept");
    QTest::newRow("cancel-button") << QStringLiteral("Cancel");
}

void tst_WifiConnectDialog::periodicScanning()
{
    QFETCH(QString, stoppedBy);
    // Every scan finds no interface and no netsh command at once; each opens the service once.
    FakeWlan wlan;
    FakeNetsh noCommand;
    const auto scans = [&wlan] { return wlan.count(QStringLiteral("open")); };
    WifiConnectDialog dialog;
    dialog.setSSIDs({"Cafe", "Bar"}, {80, 20});
    dialog.show();
    QSignalSpy accepted(&dialog, &WifiConnectDialog::acceptedSignal);
    QSignalSpy canceled(&dialog, &WifiConnectDialog::canceledSignal);
    Button *scanButton = button(dialog, "Scan");
    dialog.startAutoScan(100);
    auto *timer = dialog.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 500);
    QVERIFY(timer->isActive() && !timer->isSingleShot() && scanButton->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(scans() >= 3, 10000); // the first scan, then the ticks

    // Two more starts: one timer still, at the last interval, and two first scans that stopping
    // does not withdraw. Accept and Cancel stop as stopAutoScan does and emit once.
    const int before = scans();
    dialog.startAutoScan(60000);
    dialog.startAutoScan(60000);
    if (stoppedBy.isEmpty())
        dialog.stopAutoScan();
    else
        QTest::mouseClick(button(dialog, stoppedBy), Qt::LeftButton);
    QCOMPARE(accepted.size(), int(stoppedBy == QLatin1String("Accept")));
    QCOMPARE(canceled.size(), int(stoppedBy == QLatin1String("Cancel")));
    QCOMPARE(dialog.findChildren<QTimer *>(Qt::FindDirectChildrenOnly), QList<QTimer *>{timer});
    QCOMPARE(timer->interval(), 60000);
    QVERIFY(!timer->isActive() && !scanButton->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(scans(), before + 2, 10000);
    // One connection: one tick, one scan.
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
    QCOMPARE(scans(), before + 3);
    // The widget stays as it was; its owner reads the values and closes it.
    QVERIFY(dialog.isVisible() && StringStream<QString>::fromString(dialog.currentSsid()) == QLatin1String("Cafe"));

    // The Scan button switches scanning every 10 s on, with a first scan, and off.
    QTest::mouseClick(scanButton, Qt::LeftButton);
    QVERIFY(scanButton->isChecked() && timer->isActive() && timer->interval() == 10000);
    QTRY_COMPARE_WITH_TIMEOUT(scans(), before + 4, 10000);
    QTest::mouseClick(scanButton, Qt::LeftButton);
    QVERIFY(!scanButton->isChecked() && !timer->isActive());
}

void tst_WifiConnectDialog::nameSurvivesRescan_data()
{
    QTest::addColumn<Names>("before");
    QTest::addColumn<QString>("choice"); // "down" selects the next entry, "type:" types, "set:" calls setSsid
    QTest::addColumn<QString>("chosen"); // currentSsid before the rescan
    QTest::addColumn<Names>("after");
    QTest::addColumn<int>("index"); // after the rescan; -1 when the name is a free value
    QTest::addColumn<QString>("kept");

    const auto row = [](const char *tag, const Names &before, const QString &choice, const QString &chosen,
                        const Names &after, int index, const QString &kept) {
        QTest::newRow(tag) << before << choice << chosen << after << index << kept;
    };
    row("selected-name-at-another-position", {"Alpha", "Bravo", "Charlie"}, "down", "Bravo",
        {"Delta", "Charlie", "Bravo"}, 2, "Bravo");
    row("typed-name-trimmed-and-kept", {"Alpha", "Bravo"}, "type:  Hidden Net ", "Hidden Net", {"Charlie"}, -1,
        "Hidden Net");
    row("set-name-kept-by-an-empty-result", {}, "set: \tCafe Nord \r\n", "Cafe Nord", {}, -1, "Cafe Nord");
    row("white-space-name-is-empty-and-yields", {}, "set:   ", "", {"X", "Y"}, 0, "X");
}

void tst_WifiConnectDialog::nameSurvivesRescan()
{
    QFETCH(Names, before);
    QFETCH(QString, choice);
    QFETCH(QString, chosen);
    QFETCH(Names, after);
    QFETCH(int, index);
    QFETCH(QString, kept);

    WifiConnectDialog dialog;
    auto *combo = control<QCustomComboBox>(dialog);
    // Without qualities: a missing one shows as no signal.
    dialog.setSSIDs(before, {});
    dialog.show();
    combo->setFocus();
    if (choice == QLatin1String("down")) {
        QTest::keyClick(combo, Qt::Key_Down);
    } else if (choice.startsWith(QLatin1String("type:"))) {
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), choice.mid(5));
    } else if (choice.startsWith(QLatin1String("set:"))) {
        dialog.setSsid(StringStream<QString>::toString(choice.mid(4)));
    }
    QCOMPARE(StringStream<QString>::fromString(dialog.currentSsid()), chosen);

    QSignalSpy indexChanges(combo, &QComboBox::currentIndexChanged);
    QSignalSpy textChanges(combo, &QComboBox::currentTextChanged);
    dialog.setSSIDs(after, {});
    QCOMPARE(combo->count(), int(after.size()));
    QCOMPARE(combo->currentIndex(), index);
    QCOMPARE(StringStream<QString>::fromString(dialog.currentSsid()), kept);
    QCOMPARE(combo->currentText(), kept);
    // Rebuilding the list is no change that listeners see.
    QCOMPARE(indexChanges.size(), 0);
    QCOMPARE(textChanges.size(), 0);
}

void tst_WifiConnectDialog::deletedDuringScan_data()
{
    QTest::addColumn<int>("interval"); // of startAutoScan; 0 calls scanAndPopulate
    QTest::addColumn<int>("deletingScan");
    QTest::newRow("direct-call") << 0 << 1;
    QTest::newRow("timer-tick-nested-in-a-scan") << 500 << 2;
}

void tst_WifiConnectDialog::deletedDuringScan()
{
    QFETCH(int, interval);
    QFETCH(int, deletingScan);
    // Two interfaces that see only nameless networks: a scan that went on would ask the second
    // and then run the command.
    FakeWlan wlan(radio({{"", 70}}) + radio({{"", 70}}));
    FakeNetsh netsh(kCommandOutput);
    auto *dialog = new WifiConnectDialog;
    QPointer<WifiConnectDialog> watch(dialog);
    int readsAtDeletion = -1;
    const QString listRead = QStringLiteral("list \\d+ flags=2"); // one that succeeded
    // The owner deletes the dialog from an event handled while a scan polls, after a read; for a
    // tick, the scan nested in the first one.
    QTimer owner;
    connect(&owner, &QTimer::timeout, this, [&] {
        if (watch && wlan.count(QStringLiteral("open")) == deletingScan && wlan.count(listRead) > 0) {
            readsAtDeletion = wlan.count(listRead);
            delete watch.data();
        }
    });
    owner.start(5);
    if (interval == 0)
        dialog->scanAndPopulate();
    else
        dialog->startAutoScan(interval);
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), 10000);
    // Every scan under way stops at its next poll, giving back what it took: no read after the
    // deletion, no further interface, no command.
    QTRY_VERIFY_WITH_TIMEOUT(wlan.balanced(), 10000);
    QCOMPARE(wlan.count(listRead), readsAtDeletion);
    QCOMPARE(wlan.count(QStringLiteral("scan \\d+")), deletingScan);
    QCOMPARE(netsh.arguments(), QStringList());
}

QTEST_MAIN(tst_WifiConnectDialog)
#include "tst_wificonnectdialog.moc"
