#include "apps/orvik/cli/messagefilter.h"
#include "tests/orvikprocess.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

class tst_OrvikModule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void hidesOnlyQtChatter_data();
    void hidesOnlyQtChatter();

private:
    QTemporaryDir m_dir;
};

void tst_OrvikModule::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<QByteArray>>("lineStarts"); // each starts a line of standard output ("\n": is one)
    QTest::addColumn<QString>("errors");               // a pattern that standard error matches whole

    // The module's version comes from the record it registers, loaded from the build's program folder.
    const QList<QByteArray> versions = {"orvik 1.0.0\n",
                                        "module ORVIKNetwork 1.0.0 (" +
                                            orvikLibraryPath(QStringLiteral("ORVIKNetwork")).toUtf8() + ")\n",
                                        "Qt " + QByteArray(qVersion()) + '\n'};
    QTest::newRow("version-option") << QStringList{"--version"} << 0 << versions << QString();
    QTest::newRow("version-command-verbose-anywhere")
        << QStringList{"version", "--verbose"} << 0 << versions << QString();
    // What the loaded module registers, each line whole and the record's in its order.
    const QByteArray record = "name: ORVIKNetwork\ndisplay name: ORVIK Network\nversion: 1.0.0\ndescription: Allows "
                              "application to download or upload files or information on the network\nicon: link\n"
                              "kind: 1\nhooks: 10\n";
    QTest::newRow("module-prints-the-registered-record")
        << QStringList{"module"} << 0
        << QList<QByteArray>{record,
                             "  FactoryResetORVIK\n",
                             "  SetupUIForORVIK\n",
                             "dependencies: 8\n",
                             "  tls/qschannelbackendd (debug, os all, platform all, type 1)\n",
                             "ports: 1\n  ntp_recieive_comp: NTP RX Port, udp 42912, profile domain, scope any\n"}
        << QString();
    QTest::newRow("help-lists-commands-and-options")
        << QStringList{"--help"} << 0
        << QList<QByteArray>{"usage: orvik ", "  get ", "  version ", "  --version ", "  --verbose "} << QString();
    QTest::newRow("command-help-lists-its-options")
        << QStringList{"get", "--help"} << 0
        << QList<QByteArray>{"Usage: orvik get [options] url\n", "  --insecure ", "  --timeout <seconds> ",
                             "  --port <n> ", "  --module <path> "}
        << QString();
    // Usage errors: one line that names the fault, then the usage, all on standard error.
    const QList<QByteArray> none;
    QTest::newRow("unknown-command") << QStringList{"frobnicate", "x"} << 2 << none
                                     << QString("orvik: unknown command \"frobnicate\"\nusage: orvik .+");
    QTest::newRow("missing-command") << QStringList{} << 2 << none
                                     << QString("orvik: no command given\nusage: orvik .+");
    QTest::newRow("time-port-zero") << QStringList{"time", "127.0.0.1", "--port", "0"} << 2 << none
                                    << QString("orvik: --port must be a number from 1 to 65535\n");
    // A module file that cannot serve: one line, and for a file that is no loadable library, the loader's own error.
    const QStringList module{"module", "--module"};
    const QString missing = QStringLiteral("/nonexistent/ORVIKNetwork.so");
    const QString notFound = "orvik: module file not found: " + QRegularExpression::escape(missing) + "\n";
    QTest::newRow("module-file-missing") << module + QStringList{missing} << 2 << none << notFound;
    const QString text = orvikLibraryPath(m_dir.filePath(QStringLiteral("text")));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a library\n") > 0);
    QTest::newRow("module-file-not-a-library")
        << module + QStringList{text} << 2 << none
        << "orvik: cannot load module " + QRegularExpression::escape(text) + ": [^\n]+\n";
    const QString base = orvikLibraryPath(QStringLiteral("libORVIKBase"));
    QTest::newRow("module-file-without-entry")
        << module + QStringList{base} << 2 << none
        << "orvik: " + QRegularExpression::escape(base) + " is not an ORVIK module: no entry function\n";
    // Every command that loads the module stops at its failure, before it reaches the network.
    const QList<QStringList> commands = {{"get", "http://127.0.0.1:1/"},
                                         {"put", "http://127.0.0.1:1/", "--data", "x"},
                                         {"time", "127.0.0.1"},
                                         {"update-check"}};
    for (const QStringList &command : commands)
        QTest::addRow("%s-module-file-missing", qPrintable(command.first()))
            << command + QStringList{"--module", missing} << 2 << none << notFound;
}

void tst_OrvikModule::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QList<QByteArray>, lineStarts);
    QFETCH(QString, errors);
    const OrvikRun result = runOrvik(arguments);
    QCOMPARE(result.exitCode, exitCode);
    const QRegularExpression whole(QRegularExpression::anchoredPattern(errors),
                                   QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(whole.match(QString::fromUtf8(result.err)).hasMatch(), result.err.constData());
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
