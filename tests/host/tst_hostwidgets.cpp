#include "host/base/translator.h"
#include "host/widgets/button.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/toggle.h"

#include <QApplication>
#include <QTest>

using namespace ORVIK;

namespace {

TranslatedString text(const char *english)
{
    return TranslatedString(Translator::DefaultID(english), english);
}

} // namespace

class tst_HostWidgets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void latchingToggle();
    void comboValues();
};

// The dialog's tests cover the buttons as it uses them; a switch has a track and a look of its own.
void tst_HostWidgets::latchingToggle()
{
    Toggle toggle;
    QList<bool> states;
    toggle.setup(text("Show password"), "", [&](Button *pressed) { states.append(pressed->isChecked()); });
    toggle.setButtonState(Button::Latching);
    toggle.show();
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    QVERIFY(toggle.palette().color(QPalette::Button) != highlight);
    toggle.setChecked(true);
    toggle.setChecked(true); // no change, no call
    QCOMPARE(toggle.palette().color(QPalette::Button), highlight);
    // A click at the far end, on the track, switches it too.
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(toggle.width() - 2, toggle.height() / 2));
    QCOMPARE(states, (QList<bool>{true, false}));
    QVERIFY(toggle.palette().color(QPalette::Button) != highlight);
    QVERIFY(toggle.sizeHint().width() > toggle.fontMetrics().horizontalAdvance(toggle.text()));
}

void tst_HostWidgets::comboValues()
{
    QCustomComboBox combo;
    combo.setup(text("SSID"), {"b", "a"}, {text("Bee"), text("A")});
    QCOMPARE(combo.itemText(0), QStringLiteral("Bee"));
    QVERIFY(combo.value() == String("b")); // the entry's value, not its display text
    // A value that is no entry is ignored until free values are allowed; typed text never
    // becomes an entry.
    combo.setValue("stranger");
    QVERIFY(!combo.isFreeValueInForce());
    QVERIFY(combo.value() == String("b"));
    combo.setAllowsFreeValue(true);
    combo.setEditable(true);
    combo.show();
    combo.lineEdit()->selectAll();
    QTest::keyClicks(combo.lineEdit(), QStringLiteral("mine"));
    QTest::keyClick(combo.lineEdit(), Qt::Key_Return);
    QCOMPARE(combo.count(), 2);
    QVERIFY(combo.value() == String("mine"));
}

QTEST_MAIN(tst_HostWidgets)
#include "tst_hostwidgets.moc"
