#include "tests/orvikprocess.h"

#include <QTest>

class tst_OrvikModule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void printsTheRegisteredRecord();
    void badModuleFile_data();
    void badModuleFile();
};

void tst_OrvikModule::printsTheRegisteredRecord()
{
    const OrvikRun result = runOrvik({QStringLiteral("module")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    const QList<QByteArray> expected = {
        "name: ORVIKNetwork",
        "display name: ORVIK Network",
        "version: 1.0.0",
        "description: Allows application to download or upload files or information on the network",
        "icon: link",
        "kind: 1",
        "hooks: 10",
        "  FactoryResetORVIK",
        "  SetupUIForORVIK",
        "dependencies: 8",
        "  tls/qschannelbackendd (debug, os all, platform all, type 1)",
        "ports: 1",
        "  ntp_recieive_comp: NTP RX Port, udp 42912, profile domain, scope any",
    };
    const QList<QByteArray> lines = result.out.split('\n');
    for (const QByteArray &line : expected)
        QVERIFY2(lines.contains(line), line.constData());
    QVERIFY(!result.out.contains("InitializeForORVIK"));
}

void tst_OrvikModule::badModuleFile_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("reason");
    const QString missing = QStringLiteral("/nonexistent/ORVIKNetwork.so");
    QTest::newRow("missing-file") << QStringList{"module"} << missing << QByteArray("module file not found");
    // A program is a file but no loadable library: the loader's own error must come through.
    QTest::newRow("not-a-library") << QStringList{"module"} << orvikBinPath() << QByteArray("cannot load module");
    QTest::newRow("library-without-entry") << QStringList{"module"} << orvikBinPath(QStringLiteral("libORVIKBase.so"))
                                           << QByteArray("is not an ORVIK module");
    // Every command that loads the module fails the same way, before it reaches the network.
    const QList<QStringList> commands = {{"get", "http://127.0.0.1:1/"},
                                         {"put", "http://127.0.0.1:1/", "--data", "x"},
                                         {"time", "127.0.0.1"},
                                         {"update-check"}};
    for (const QStringList &command : commands) {
        QTest::addRow("%s-missing-file", qPrintable(command.first()))
            << command << missing << QByteArray("module file not found");
        QTest::addRow("%s-not-a-library", qPrintable(command.first()))
            << command << orvikBinPath() << QByteArray("cannot load module");
    }
}

void tst_OrvikModule::badModuleFile()
{
    QFETCH(QStringList, command);
    QFETCH(QString, path);
    QFETCH(QByteArray, reason);
    const OrvikRun result = runOrvik(command + QStringList{QStringLiteral("--module"), path});
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err.count('\n'), 1);
    QVERIFY(result.err.startsWith("orvik: "));
    QVERIFY2(result.err.contains(reason), result.err.constData());
}

QTEST_GUILESS_MAIN(tst_OrvikModule)
#include "tst_orvikmodule.moc"
