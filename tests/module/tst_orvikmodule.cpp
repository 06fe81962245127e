#include "apps/orvik/cli/messagefilter.h"
#include "tests/orvikprocess.h"

#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

class tst_OrvikModule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void printsTheRegisteredRecord();
    void badModuleFile_data();
    void badModuleFile();
    void commandLine_data();
    void commandLine();
    void hidesOnlyQtChatter_data();
    void hidesOnlyQtChatter();

private:
    QTemporaryDir m_dir;
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
    // A file that is no loadable library: the loader's own error must come through.
    const QString text = orvikLibraryPath(m_dir.filePath(QStringLiteral("text")));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a library\n") > 0);
    QTest::newRow("not-a-library") << QStringList{"module"} << text << QByteArray("cannot load module");
    QTest::newRow("library-without-entry") << QStringList{"module"} << orvikLibraryPath(QStringLiteral("libORVIKBase"))
                                           << QByteArray("is not an ORVIK module");
    // Every command that loads the module stops at its failure, before it reaches the network; the
    // loader's reasons are the module command's rows.
    const QList<QStringList> commands = {{"get", "http://127.0.0.1:1/"},
                                         {"put", "http://127.0.0.1:1/", "--data", "x"},
                                         {"time", "127.0.0.1"},
                                         {"update-check"}};
    for (const QStringList &command : commands)
        QTest::addRow("%s-missing-file", qPrintable(command.first()))
            << command << missing << QByteArray("module file not found");
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

void tst_OrvikModule::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<QByteArray>>("lineStarts"); // each starts a line of standard output
    QTest::addColumn<QByteArray>("errorLine");         // starts standard error; empty: nothing there

    // The module's version comes from the record it registers, loaded from the build's program folder.
    const QList<QByteArray> versions = {"orvik 1.0.0\n",
                                        "module ORVIKNetwork 1.0.0 (" +
                                            orvikLibraryPath(QStringLiteral("ORVIKNetwork")).toUtf8() + ")\n",
                                        "Qt " + QByteArray(qVersion()) + '\n'};
    QTest::newRow("version-command") << QStringList{"version"} << 0 << versions << QByteArray();
    QTest::newRow("version-option") << QStringList{"--version"} << 0 << versions << QByteArray();
    QTest::newRow("verbose-anywhere") << QStringList{"version", "--verbose"} << 0 << versions << QByteArray();
    QTest::newRow("help-lists-commands-and-options")
        << QStringList{"--help"} << 0
        << QList<QByteArray>{"usage: orvik ", "  get ", "  version ", "  --version ", "  --verbose "} << QByteArray();
    QTest::newRow("command-help-lists-its-options")
        << QStringList{"get", "--help"} << 0
        << QList<QByteArray>{"Usage: orvik get [options] url\n", "  --insecure ", "  --timeout <seconds> ",
                             "  --port <n> ", "  --module <path> "}
        << QByteArray();
    // Usage errors: one line that names the fault, then the usage, all on standard error.
    QTest::newRow("unknown-command") << QStringList{"frobnicate", "x"} << 2 << QList<QByteArray>()
                                     << QByteArray("orvik: unknown command \"frobnicate\"\nusage: orvik ");
    QTest::newRow("missing-command") << QStringList{} << 2 << QList<QByteArray>()
                                     << QByteArray("orvik: no command given\nusage: orvik ");
    QTest::newRow("time-port-zero") << QStringList{"time", "127.0.0.1", "--port", "0"} << 2 << QList<QByteArray>()
                                    << QByteArray("orvik: --port must be a number from 1 to 65535\n");
}

void tst_OrvikModule::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QList<QByteArray>, lineStarts);
    QFETCH(QByteArray, errorLine);
    const OrvikRun result = runOrvik(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(errorLine.isEmpty() ? result.err.isEmpty() : result.err.startsWith(errorLine), result.err.constData());
    QVERIFY2(!lineStarts.isEmpty() || result.out.isEmpty(), result.out.constData());
    for (const QByteArray &start : lineStarts)
        QVERIFY2(('\n' + result.out).contains('\n' + start), result.out.constData());
}

void tst_OrvikModule::hidesOnlyQtChatter_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<bool>("fromOurCode"); // carries a source file
    QTest::addColumn<bool>("hidden");
    QTest::newRow("qt-warning") << int(QtWarningMsg) << QByteArray("default") << false << true;
    QTest::newRow("qt-category-debug") << int(QtDebugMsg) << QByteArray("qt.qpa.fonts") << false << true;
    QTest::newRow("our-warning") << int(QtWarningMsg) << QByteArray("default") << true << false;
    QTest::newRow("our-category") << int(QtInfoMsg) << QByteArray("orvik.network") << false << false;
    QTest::newRow("qt-critical") << int(QtCriticalMsg) << QByteArray("qt.network.ssl") << false << false;
}

void tst_OrvikModule::hidesOnlyQtChatter()
{
    QFETCH(int, type);
    QFETCH(QByteArray, category);
    QFETCH(bool, fromOurCode);
    QFETCH(bool, hidden);
    QCOMPARE(MessageFilter::isQtChatter(QtMsgType(type), category.constData(), fromOurCode ? __FILE__ : nullptr),
             hidden);
}

QTEST_GUILESS_MAIN(tst_OrvikModule)
#include "tst_orvikmodule.moc"
