#include <QDir>
#include <QLibrary>
#include <QProcess>
#include <QTest>

// The module exports the dialog class whole and nothing else of the WiFi code.
class tst_WifiExports : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dialogIsExportedScanIsNot();
};

void tst_WifiExports::dialogIsExportedScanIsNot()
{
    const QString path = QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("ORVIKNetwork.so"));
    QLibrary module(path);
    QVERIFY2(module.load(), qPrintable(module.errorString()));
    for (const char *symbol :
         {"_ZN5ORVIK17WifiConnectDialogC1EP7QWidget", "_ZN5ORVIK17WifiConnectDialog16staticMetaObjectE",
          "_ZN5ORVIK17WifiConnectDialog15scanAndPopulateEv", "_ZNK5ORVIK17WifiConnectDialog11currentSsidEv"})
        QVERIFY2(module.resolve(symbol), symbol);

    QProcess nm;
    nm.start(QStringLiteral("nm"),
             {QStringLiteral("-D"), QStringLiteral("-C"), QStringLiteral("--defined-only"), path});
    QVERIFY2(nm.waitForFinished(30000) && nm.exitCode() == 0, "nm lists the dynamic symbols (binutils)");
    const QByteArray symbols = nm.readAllStandardOutput();
    QVERIFY(symbols.contains("ORVIK::WifiConnectDialog::setSSIDs"));
    for (const char *hidden :
         {"scanWithWlanApi", "parseNetshOutput", "runNetshCommand", "comesBefore", "WlanFunctions", "wlanFunctions"})
        QVERIFY2(!symbols.contains(hidden), hidden);
}

QTEST_GUILESS_MAIN(tst_WifiExports)
#include "tst_wifiexports.moc"
