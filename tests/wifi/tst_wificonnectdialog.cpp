#include "host/widgets/button.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "host/widgets/toggle.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"
#include "wifi/wificonnectdialog.h"

#include <QApplication>
#include <QGroupBox>
#include <QPointer>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>

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

Button *button(const QWidget &dialog, const char *text)
{
    return button(dialog, QString::fromLatin1(text));
}

QList<QTimer *> timers(const QWidget &dialog)
{
    return dialog.findChildren<QTimer *>(Qt::FindDirectChildrenOnly);
}

QStringList entryTexts(const QComboBox &combo)
{
    QStringList texts;
    for (int i = 0; i < combo.count(); ++i)
        texts.append(combo.itemText(i));
    return texts;
}

QByteArray bytes(const String &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.length()));
}

// Every scan fails at once: no WLAN service and no netsh command.
struct QuickScans
{
    FakeWlan wlan;
    FakeNetsh noCommand;
    QuickScans() { wlan.openResult = 1062; }
    // Each scan asks the service once, so the refused opens count the scans.
    int count() const { return wlan.openCalls; }
};

} // namespace

class tst_WifiConnectDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void construction();
    void signalBars_data();
    void signalBars();
    void autoScanTicksNoFasterThan500ms();
    void secondStartReusesTimerAndConnection();
    void scanButtonSwitchesScanning();
    void acceptAndCancel_data();
    void acceptAndCancel();
    void selectedNameSurvivesRescan();
    void typedNameSurvivesRescan();
    void emptyResultKeepsTheName();
    void currentSsidIsTrimmed_data();
    void currentSsidIsTrimmed();
    void passwordSurvivesEverySwitch();
    void sizeHintIsWideEnough();
    void securitySettersChangeNothing();
    void deletedDuringScan_data();
    void deletedDuringScan();
};

void tst_WifiConnectDialog::construction()
{
    WifiConnectDialog dialog;
    QCOMPARE(dialog.metaObject()->className(), "ORVIK::WifiConnectDialog");
    const QMetaObject *meta = dialog.metaObject();
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 2);
    QCOMPARE(meta->method(meta->methodOffset()).methodSignature(), QByteArray("acceptedSignal()"));
    QCOMPARE(meta->method(meta->methodOffset() + 1).methodSignature(), QByteArray("canceledSignal()"));
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select WiFi"));
    QStringList boxes;
    for (const QGroupBox *box : dialog.findChildren<QGroupBox *>())
        boxes.append(box->title());
    QCOMPARE(boxes, (QStringList{"Network", "Password"}));

    Button *scan = button(dialog, "Scan");
    QVERIFY(scan);
    QVERIFY(scan->isCheckable());
    QVERIFY(!scan->isChecked());
    QCOMPARE(int(scan->buttonState()), 3);
    QVERIFY(!scan->icon().isNull());
    QVERIFY(!button(dialog, "Accept")->isCheckable());
    QVERIFY(button(dialog, "Accept")->icon().isNull());
    auto *toggle = control<Toggle>(dialog);
    QCOMPARE(toggle->text(), QStringLiteral("Show password"));
    QVERIFY(!toggle->isChecked());
    QCOMPARE(toggle->parentWidget()->parentWidget(), &dialog);

    auto *combo = control<QCustomComboBox>(dialog);
    QCOMPARE(combo->count(), 0);
    QVERIFY(!combo->isEditable());
    QVERIFY(combo->accessibleName().isEmpty()); // the title arrives with the first result
    QCOMPARE(control<QCustomLineEdit>(dialog)->echoMode(), QLineEdit::Password);
    QVERIFY(timers(dialog).isEmpty());

    // Network box on top, then the password box, then Cancel left of Accept at the bottom right.
    dialog.resize(dialog.sizeHint());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect network = combo->parentWidget()->geometry();
    const QRect password = toggle->parentWidget()->geometry();
    const QRect cancel = button(dialog, "Cancel")->geometry();
    const QRect accept = button(dialog, "Accept")->geometry();
    QVERIFY(network.bottom() < password.top());
    QVERIFY(password.bottom() < cancel.top());
    QVERIFY(cancel.right() < accept.left());
    QCOMPARE(accept.top(), cancel.top());
    QVERIFY(scan->geometry().left() > combo->geometry().right());
}

void tst_WifiConnectDialog::signalBars_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("litBars");
    QTest::newRow("negative") << -5 << 0;
    QTest::newRow("24") << 24 << 0;
    QTest::newRow("25") << 25 << 1;
    QTest::newRow("74") << 74 << 2;
    QTest::newRow("99-is-not-full") << 99 << 3;
    QTest::newRow("100") << 100 << 4;
    QTest::newRow("above-100") << 150 << 4;
}

void tst_WifiConnectDialog::signalBars()
{
    QFETCH(int, quality);
    QFETCH(int, litBars);

    WifiConnectDialog dialog;
    dialog.setSSIDs({"Other", "Net"}, {100, quality});
    const auto *combo = control<QCustomComboBox>(dialog);
    const QImage icon = combo->itemIcon(1).pixmap(QSize(24, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(icon.size(), QSize(24, 16));

    const QColor lit = dialog.palette().color(QPalette::Highlight);
    const QColor unlit(Qt::lightGray);
    for (int bar = 0; bar < 4; ++bar) {
        const int left = 5 * bar;
        const int top = 16 - 4 * (bar + 1);
        const QColor expected = bar < litBars ? lit : unlit;
        // Every pixel of the bar has its colour; the column after it and the rows above are clear.
        for (int x = left; x < left + 4; ++x)
            for (int y = top; y < 16; ++y)
                QCOMPARE(icon.pixelColor(x, y), expected);
        for (int y = 0; y < 16; ++y)
            QCOMPARE(icon.pixelColor(left + 4, y).alpha(), 0);
        if (top > 0)
            QCOMPARE(icon.pixelColor(left, top - 1).alpha(), 0);
    }
    for (int x = 19; x < 24; ++x)
        QCOMPARE(icon.pixelColor(x, 0).alpha(), 0);
}

void tst_WifiConnectDialog::autoScanTicksNoFasterThan500ms()
{
    QuickScans scans;
    WifiConnectDialog dialog;
    dialog.startAutoScan(100);

    QCOMPARE(timers(dialog).size(), 1);
    const QTimer *timer = timers(dialog).first();
    QCOMPARE(timer->interval(), 500);
    QVERIFY(!timer->isSingleShot());
    QVERIFY(timer->isActive());
    QVERIFY(button(dialog, "Scan")->isChecked());
    // The first scan after the start, then the timer's ticks.
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 3, 10000);
    QCOMPARE(timers(dialog).size(), 1);
}

void tst_WifiConnectDialog::secondStartReusesTimerAndConnection()
{
    QuickScans scans;
    WifiConnectDialog dialog;
    dialog.startAutoScan(100);
    dialog.startAutoScan(60000);
    dialog.stopAutoScan(); // does not withdraw the first scans already scheduled

    QCOMPARE(timers(dialog).size(), 1);
    QTimer *timer = timers(dialog).first();
    QCOMPARE(timer->interval(), 60000);
    QVERIFY(!timer->isActive());
    QVERIFY(!button(dialog, "Scan")->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(scans.count(), 2, 10000);

    // One connection: one tick, one scan.
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
    QCOMPARE(scans.count(), 3);
}

void tst_WifiConnectDialog::scanButtonSwitchesScanning()
{
    QuickScans scans;
    WifiConnectDialog dialog;
    Button *scan = button(dialog, "Scan");

    QTest::mouseClick(scan, Qt::LeftButton);
    QVERIFY(scan->isChecked());
    QCOMPARE(timers(dialog).size(), 1);
    QCOMPARE(timers(dialog).first()->interval(), 10000);
    QVERIFY(timers(dialog).first()->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(scans.count(), 1, 10000);

    QTest::mouseClick(scan, Qt::LeftButton);
    QVERIFY(!scan->isChecked());
    QVERIFY(!timers(dialog).first()->isActive());

    QTest::mouseClick(scan, Qt::LeftButton);
    QCOMPARE(timers(dialog).size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(scans.count(), 2, 10000);
}

void tst_WifiConnectDialog::acceptAndCancel_data()
{
    QTest::addColumn<QString>("pressed");
    QTest::newRow("accept") << QStringLiteral("Accept");
    QTest::newRow("cancel") << QStringLiteral("Cancel");
}

void tst_WifiConnectDialog::acceptAndCancel()
{
    QFETCH(QString, pressed);
    QuickScans scans;
    WifiConnectDialog dialog;
    dialog.setSSIDs({"Cafe", "Bar"}, {80, 20});
    dialog.setPassword(PasswordString::Encode("secret"));
    dialog.show();
    dialog.startAutoScan(60000);
    QSignalSpy accepted(&dialog, &WifiConnectDialog::acceptedSignal);
    QSignalSpy canceled(&dialog, &WifiConnectDialog::canceledSignal);

    QTest::mouseClick(button(dialog, pressed), Qt::LeftButton);
    QCOMPARE(accepted.size(), pressed == QLatin1String("Accept") ? 1 : 0);
    QCOMPARE(canceled.size(), pressed == QLatin1String("Cancel") ? 1 : 0);
    QVERIFY(!timers(dialog).first()->isActive());
    QVERIFY(!button(dialog, "Scan")->isChecked());
    // The widget stays as it was; its owner reads the values and closes it.
    QVERIFY(dialog.isVisible());
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Cafe"));
    QCOMPARE(dialog.currentPassword(), PasswordString::Encode("secret"));
    // The first scan scheduled just before still runs.
    QTRY_COMPARE_WITH_TIMEOUT(scans.count(), 1, 10000);
}

void tst_WifiConnectDialog::selectedNameSurvivesRescan()
{
    WifiConnectDialog dialog;
    dialog.setSSIDs({"Alpha", "Bravo", "Charlie"}, {90, 60, 30});
    auto *combo = control<QCustomComboBox>(dialog);
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Alpha")); // the first entry when nothing was chosen

    dialog.show();
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Bravo"));

    QSignalSpy indexChanges(combo, &QComboBox::currentIndexChanged);
    QSignalSpy textChanges(combo, &QComboBox::currentTextChanged);
    dialog.setSSIDs({"Delta", "Charlie", "Bravo"}, {95, 50, 40});
    QCOMPARE(entryTexts(*combo), (QStringList{"Delta", "Charlie", "Bravo"}));
    QCOMPARE(combo->currentIndex(), 2);
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Bravo"));
    // Rebuilding the list is no change that listeners see.
    QCOMPARE(indexChanges.size(), 0);
    QCOMPARE(textChanges.size(), 0);
}

void tst_WifiConnectDialog::typedNameSurvivesRescan()
{
    WifiConnectDialog dialog;
    dialog.setSSIDs({"Alpha", "Bravo"}, {90, 60});
    auto *combo = control<QCustomComboBox>(dialog);
    dialog.show();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("  Hidden Net "));
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Hidden Net"));

    dialog.setSSIDs({"Charlie"}, {70});
    QCOMPARE(entryTexts(*combo), QStringList{"Charlie"});
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Hidden Net"));
    QCOMPARE(combo->currentText(), QStringLiteral("Hidden Net"));

    // Choosing a listed network replaces the typed one.
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Charlie"));
}

void tst_WifiConnectDialog::emptyResultKeepsTheName()
{
    WifiConnectDialog dialog;
    dialog.setSsid("Remembered");
    dialog.setSSIDs({}, {});
    auto *combo = control<QCustomComboBox>(dialog);
    QCOMPARE(combo->count(), 0);
    QVERIFY(combo->isEditable());
    QCOMPARE(combo->accessibleName(), QStringLiteral("SSID"));
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Remembered"));
    QCOMPARE(combo->currentText(), QStringLiteral("Remembered"));

    // A later list that holds the name selects its entry.
    dialog.setSSIDs({"Other", "Remembered"}, {80, 10});
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Remembered"));
}

void tst_WifiConnectDialog::currentSsidIsTrimmed_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("surrounding-spaces-and-tabs") << QByteArray(" \tCafe Nord \r\n") << QByteArray("Cafe Nord");
    QTest::newRow("only-white-space") << QByteArray("   ") << QByteArray();
    QTest::newRow("clean-name") << QByteArray("Bar") << QByteArray("Bar");
}

void tst_WifiConnectDialog::currentSsidIsTrimmed()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, expected);
    WifiConnectDialog dialog;
    dialog.setSsid(StringView(value.constData(), static_cast<uint32_t>(value.size())));
    QCOMPARE(bytes(dialog.currentSsid()), expected);
    // Also when the name is a listed entry's value.
    dialog.setSSIDs({String(value.constData(), static_cast<uint32_t>(value.size())), "Other"}, {10, 90});
    QCOMPARE(bytes(dialog.currentSsid()), expected);
}

void tst_WifiConnectDialog::passwordSurvivesEverySwitch()
{
    WifiConnectDialog dialog;
    dialog.show();
    auto *edit = control<QCustomLineEdit>(dialog);
    auto *toggle = control<Toggle>(dialog);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("p4ss word!"));
    const PasswordString typed = dialog.currentPassword();
    QCOMPARE(bytes(typed.decode()), QByteArray("p4ss word!"));

    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(toggle->isChecked());
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QCOMPARE(edit->text(), QStringLiteral("p4ss word!"));
        QCOMPARE(dialog.currentPassword(), typed);

        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!toggle->isChecked());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.currentPassword(), typed);
    }

    // setPassword in either mode gives back the same password.
    dialog.setPassword(PasswordString::Encode("hidden"));
    QCOMPARE(dialog.currentPassword(), PasswordString::Encode("hidden"));
    QTest::mouseClick(toggle, Qt::LeftButton);
    dialog.setPassword(PasswordString::Encode("sh\xc3\xb6wn"));
    QCOMPARE(edit->text(), QStringLiteral("sh\u00f6wn"));
    QCOMPARE(dialog.currentPassword(), PasswordString::Encode("sh\xc3\xb6wn"));
    // setShowPassword flips the switch, and the field follows it.
    dialog.setShowPassword(false);
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.currentPassword(), PasswordString::Encode("sh\xc3\xb6wn"));
}

void tst_WifiConnectDialog::sizeHintIsWideEnough()
{
    WifiConnectDialog dialog;
    const int iconSize = dialog.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, nullptr);
    QVERIFY(iconSize > 0);
    for (const Buffer<String> &names : {Buffer<String>{}, Buffer<String>{"A network with a very long name indeed"}}) {
        dialog.setSSIDs(names, {50});
        const QSize hint = dialog.sizeHint();
        const QSize base = dialog.QWidget::sizeHint();
        QVERIFY(hint.width() >= 15 * iconSize);
        QVERIFY(hint.width() >= base.width());
        QCOMPARE(hint.height(), base.height());
    }
}

void tst_WifiConnectDialog::securitySettersChangeNothing()
{
    WifiConnectDialog dialog;
    dialog.setSSIDs({"Cafe"}, {60});
    dialog.setPassword(PasswordString::Encode("pw"));
    dialog.resize(dialog.sizeHint());
    const QImage before = dialog.grab().toImage();
    const int children = dialog.findChildren<QObject *>().size();

    dialog.setDefaultSecurity(QStringLiteral("WPA2-Personal"));
    dialog.setSecurityOptions({QStringLiteral("Open"), QStringLiteral("WEP"), QString()});
    QCOMPARE(dialog.grab().toImage(), before);
    QCOMPARE(dialog.findChildren<QObject *>().size(), children);
    QCOMPARE(bytes(dialog.currentSsid()), QByteArray("Cafe"));
    QCOMPARE(dialog.currentPassword(), PasswordString::Encode("pw"));
}

void tst_WifiConnectDialog::deletedDuringScan_data()
{
    QTest::addColumn<QString>("startedBy");
    QTest::newRow("direct-call") << QStringLiteral("call");
    QTest::newRow("first-scan-of-auto-scanning") << QStringLiteral("start");
    QTest::newRow("timer-tick-nested-in-a-scan") << QStringLiteral("tick");
}

void tst_WifiConnectDialog::deletedDuringScan()
{
    QFETCH(QString, startedBy);
    FakeWlan wlan;
    FakeNetsh noCommand;
    wlan.interfaces = {FakeWlan::Interface{{FakeWlan::Poll{false, {{"Cafe", 50}}}}, 0}};

    auto *dialog = new WifiConnectDialog;
    QPointer<WifiConnectDialog> watch(dialog);
    // The owner deletes the dialog from an event handled while the scan polls: for a tick,
    // in the scan nested in the first one.
    const int deletingScan = startedBy == QLatin1String("tick") ? 2 : 1;
    bool armed = false;
    wlan.onRead = [&] {
        if (!armed && wlan.opened == deletingScan) {
            armed = true;
            QTimer::singleShot(0, this, [&] { delete watch.data(); });
        }
    };

    if (startedBy == QLatin1String("call"))
        dialog->scanAndPopulate();
    else
        dialog->startAutoScan(startedBy == QLatin1String("tick") ? 500 : 60000);
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), 10000);
    // Every scan under way finishes and gives back what it took.
    QTRY_VERIFY_WITH_TIMEOUT(wlan.opened == wlan.closed, 10000);
    QVERIFY(wlan.balanced());
}

QTEST_MAIN(tst_WifiConnectDialog)
#include "tst_wificonnectdialog.moc"
