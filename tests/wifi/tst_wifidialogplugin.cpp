#include "apps/orvik/wifidialogplugin.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "tests/wifi/fakenetsh.h"

#include <QApplication>
#include <QDir>
#include <QLibrary>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace ORVIK;

// The interactive side of `orvik wifi`, answered from the test as a user would answer it.
class tst_WifiDialogPlugin : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void answers_data();
    void answers();

private:
    QLibrary m_plugin;
    WifiDialogEntry m_entry = nullptr;
};

namespace {

QWidget *openDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && qstrcmp(widget->metaObject()->className(), "ORVIK::WifiConnectDialog") == 0)
            return widget;
    return nullptr;
}

QPushButton *buttonOf(QWidget *dialog, const QString &text)
{
    for (QPushButton *button : dialog->findChildren<QPushButton *>())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

void tst_WifiDialogPlugin::initTestCase()
{
    m_plugin.setFileName(QDir(qEnvironmentVariable("ORVIK_BIN_DIR"))
                             .filePath(QString::fromLatin1(kWifiDialogPluginName) + QStringLiteral(".so")));
    m_entry = reinterpret_cast<WifiDialogEntry>(m_plugin.resolve(kWifiDialogEntrySymbol));
    QVERIFY2(m_entry, qPrintable(m_plugin.errorString()));
}

void tst_WifiDialogPlugin::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("showPassword");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("accept-prints-the-network") << QStringLiteral("Accept") << false << 0 << QStringLiteral("Bakery\n");
    QTest::newRow("accept-with-password")
        << QStringLiteral("Accept") << true << 0 << QStringLiteral("Bakery\nhunter 2\n");
    QTest::newRow("cancel") << QStringLiteral("Cancel") << true << 1 << QString();
    QTest::newRow("window-closed") << QStringLiteral("close") << true << 1 << QString();
}

void tst_WifiDialogPlugin::answers()
{
    QFETCH(QString, answer);
    QFETCH(bool, showPassword);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    FakeNetsh netsh("SSID 1 : Tram Stop\r\nSignal : 35%\r\nSSID 2 : Bakery\r\nSignal : 88%\r\n");
    QVERIFY(netsh.isValid());

    // Waits for the first scan's list, then chooses, types and answers.
    QTimer user;
    user.setInterval(20);
    connect(&user, &QTimer::timeout, this, [&] {
        QWidget *dialog = openDialog();
        auto *combo = dialog ? dialog->findChild<QCustomComboBox *>() : nullptr;
        if (!combo || combo->count() < 2)
            return;
        user.stop();
        combo->setCurrentIndex(1);
        dialog->findChild<QCustomLineEdit *>()->setText(QStringLiteral("hunter 2"));
        if (answer == QLatin1String("close"))
            dialog->close();
        else
            buttonOf(dialog, answer)->click();
    });
    user.start();

    WifiDialogRequest request;
    request.showPassword = showPassword;
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    QCOMPARE(m_entry(request, outStream, errStream), exitCode);
    QCOMPARE(out, output);
    QVERIFY(err.isEmpty());
    QVERIFY(!openDialog());
}

QTEST_MAIN(tst_WifiDialogPlugin)
#include "tst_wifidialogplugin.moc"
