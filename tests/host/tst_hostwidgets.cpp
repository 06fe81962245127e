#include "host/base/stringstream.h"
#include "host/base/translator.h"
#include "host/widgets/button.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "host/widgets/qcustomvalidator.h"
#include "host/widgets/toggle.h"

#include <QTest>

using namespace ORVIK;

namespace {

TranslatedString text(const char *english)
{
    return TranslatedString(Translator::DefaultID(english), english);
}

QByteArray bytes(const String &value)
{
    return QByteArray(value.data(), static_cast<qsizetype>(value.length()));
}

Buffer<TranslatedString> displayNamesOf(const Buffer<String> &values)
{
    Buffer<TranslatedString> names;
    for (const String &value : values)
        names.append(StringStream<String>::toDisplayString(value));
    return names;
}

} // namespace

class tst_HostWidgets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void buttonRunsItsCallbackWhenActivated();
    void latchingButtonLightsWhileChecked();
    void toggleRunsItsCallbackOnEveryChange();
    void comboSetupReplacesEntries();
    void comboFreeValue();
    void comboRefusesFreeValuesUnlessAllowed();
    void lineEditPasswordMode();
};

void tst_HostWidgets::buttonRunsItsCallbackWhenActivated()
{
    QList<Button *> calls;
    Button button(text("Go"), "", [&](Button *pressed) { calls.append(pressed); });
    QCOMPARE(button.text(), QStringLiteral("Go"));
    button.show();

    QTest::mouseClick(&button, Qt::LeftButton);
    button.click();
    QCOMPARE(calls, (QList<Button *>{&button, &button}));

    button.setCheckable(true);
    button.setChecked(true);
    button.setChecked(false);
    QCOMPARE(calls.size(), 2); // changing the state from code is silent

    int second = 0;
    button.setup(text("Again"), "", [&](Button *) { ++second; });
    QTest::mouseClick(&button, Qt::LeftButton);
    QVERIFY(button.isChecked());
    QCOMPARE(second, 1);
    QCOMPARE(calls.size(), 2);
    QCOMPARE(button.text(), QStringLiteral("Again"));
}

void tst_HostWidgets::latchingButtonLightsWhileChecked()
{
    QWidget parent;
    Button button(text("Scan"), "refresh", nullptr, &parent);
    const QColor highlight = parent.palette().color(QPalette::Highlight);
    button.setCheckable(true);
    button.setButtonState(Button::Latching);
    QCOMPARE(int(button.buttonState()), 3);
    QVERIFY(button.palette().color(QPalette::Button) != highlight);
    button.setChecked(true);
    QCOMPARE(button.palette().color(QPalette::Button), highlight);
    button.setChecked(false);
    QVERIFY(button.palette().color(QPalette::Button) != highlight);
    button.click(); // no callback set: nothing to run, no crash
    QVERIFY(button.isChecked());
}

void tst_HostWidgets::toggleRunsItsCallbackOnEveryChange()
{
    Toggle toggle;
    QList<bool> states;
    toggle.setup(text("Show password"), "", [&](Button *pressed) { states.append(pressed->isChecked()); });
    QVERIFY(toggle.isCheckable());
    QVERIFY(!toggle.isChecked());
    toggle.show();

    toggle.setChecked(true);
    toggle.setChecked(true); // no change, no call
    QTest::mouseClick(&toggle, Qt::LeftButton);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(toggle.width() - 2, toggle.height() / 2));
    QCOMPARE(states, (QList<bool>{true, false, true}));
    QVERIFY(toggle.sizeHint().width() > toggle.fontMetrics().horizontalAdvance(toggle.text()));
}

void tst_HostWidgets::comboSetupReplacesEntries()
{
    QCustomComboBox combo;
    combo.setup(text("Colour"), {"red", "green"}, {text("Red"), text("Green")});
    combo.setup(text("SSID"), {"b", "a", "b"}, displayNamesOf({"b", "a", "b"}));
    QCOMPARE(combo.count(), 3);
    QCOMPARE(combo.itemText(1), QStringLiteral("a"));
    QCOMPARE(combo.currentIndex(), 0);
    QCOMPARE(bytes(combo.value()), QByteArray("b"));
    QCOMPARE(combo.accessibleName(), QStringLiteral("SSID"));
    QCOMPARE(combo.placeholderText(), QStringLiteral("SSID"));

    combo.setValue("a");
    QCOMPARE(combo.currentIndex(), 1);
    QVERIFY(!combo.isFreeValueInForce());

    // The value, not the display text, is what the entry holds.
    combo.setup(text("Colour"), {"r"}, {text("Red")});
    QCOMPARE(combo.itemText(0), QStringLiteral("Red"));
    QCOMPARE(bytes(combo.value()), QByteArray("r"));
    combo.setup(text("Colour"), {}, {});
    QCOMPARE(combo.count(), 0);
    QCOMPARE(combo.currentIndex(), -1);
}

void tst_HostWidgets::comboFreeValue()
{
    QCustomComboBox combo;
    combo.setAllowsFreeValue(true);
    combo.setValue("Typed before any entry");
    QVERIFY(combo.isFreeValueInForce());
    QCOMPARE(combo.placeholderText(), QStringLiteral("Typed before any entry"));

    combo.setup(text("SSID"), {"one", "two"}, displayNamesOf({"one", "two"}));
    QVERIFY(!combo.isFreeValueInForce()); // the new entries decide
    QCOMPARE(bytes(combo.value()), QByteArray("one"));

    combo.setEditable(true);
    combo.show();
    combo.lineEdit()->selectAll();
    QTest::keyClicks(combo.lineEdit(), QStringLiteral("mine"));
    QVERIFY(combo.isFreeValueInForce());
    QCOMPARE(bytes(combo.value()), QByteArray("mine"));
    QCOMPARE(combo.count(), 2); // typing never adds an entry
    QTest::keyClick(combo.lineEdit(), Qt::Key_Return);
    QCOMPARE(combo.count(), 2);

    QTest::keyClick(&combo, Qt::Key_Down);
    QVERIFY(!combo.isFreeValueInForce());
    QCOMPARE(bytes(combo.value()), QByteArray("two"));

    combo.setValue("elsewhere");
    QCOMPARE(combo.currentIndex(), -1);
    QCOMPARE(combo.currentText(), QStringLiteral("elsewhere"));
    QCOMPARE(bytes(combo.value()), QByteArray("elsewhere"));
    QCOMPARE(combo.lineEdit()->placeholderText(), QStringLiteral("SSID"));
}

void tst_HostWidgets::comboRefusesFreeValuesUnlessAllowed()
{
    QCustomComboBox combo;
    combo.setup(text("SSID"), {"one", "two"}, displayNamesOf({"one", "two"}));
    combo.setValue("two");
    combo.setValue("stranger");
    QVERIFY(!combo.isFreeValueInForce());
    QCOMPARE(bytes(combo.value()), QByteArray("two"));
}

void tst_HostWidgets::lineEditPasswordMode()
{
    QCustomLineEdit edit;
    edit.setIsPassword(true, "enter the key");
    QVERIFY(edit.isPassword());
    QCOMPARE(edit.echoMode(), QLineEdit::Password);
    QCOMPARE(edit.placeholderText(), QStringLiteral("enter the key"));

    edit.setValue(PasswordString::Encode("s\xc3\xa9same"));
    QCOMPARE(edit.text(), QStringLiteral("s\u00e9same"));
    QCOMPARE(bytes(edit.getValue()), QByteArray("s\xc3\xa9same"));
    QCOMPARE(bytes(edit.getValue(true)), bytes(PasswordString::Encode("s\xc3\xa9same").encoded()));
    QCOMPARE(bytes(edit.getValue(false)), QByteArray("s\xc3\xa9same"));

    edit.setIsPassword(false, StringView());
    QCOMPARE(edit.echoMode(), QLineEdit::Normal);
    QVERIFY(edit.placeholderText().isEmpty());
    edit.setValue(String("plain"));
    QCOMPARE(bytes(edit.getValue(true)), QByteArray("plain")); // only password mode encodes
    QVERIFY(edit.customValidator());
    QCOMPARE(edit.validator(), edit.customValidator());
}

QTEST_MAIN(tst_HostWidgets)
#include "tst_hostwidgets.moc"
