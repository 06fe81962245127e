#include "apps/orvik/cli/messagefilter.h"
#include "host/base/modulemanager.h"
#include "host/base/moduleresources.h"
#include "host/base/translator.h"
#include "host/widgets/itemdownloader.h"
#include "tests/orvikprocess.h"
#include "tests/testfile.h"

#include <QLibrary>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <set>

using namespace ORVIK;

namespace {

// The registered hooks: the first and the last do something, the eight between are empty.
const char *const kHookNames[] = {
    "SetupMetatypesForORVIK", "RegisterUserSettingsForORVIK",  "SetupFileStructureForORVIK", "FactoryResetORVIK",
    "SetupFactoriesForORVIK", "SetUpdateCheckerForORVIK",      "SetupManualsForORVIK",       "SetupUIThemesForORVIK",
    "SetupUIForORVIK",        "DefineModuleResourcesForORVIK",
};

using ResourcesHook = void (*)(ModuleResources &);

} // namespace

// The orvik program's command line; and the built module as a host loads it in this process: the record and
// hooks its entry registers, and the hooks it exports by symbol, which must be the registered ones.
class tst_OrvikModule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void hidesOnlyQtChatter_data();
    void hidesOnlyQtChatter();
    void hostsCopyHasTheRecordAndTheTenHooks();
    void resourcesHookAppends();

private:
    QFunctionPointer exported(const char *hook) { return m_library.resolve(QByteArray("ORVIKNetwork") + hook); }

    QTemporaryDir m_dir;
    QLibrary m_library;
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
        << QList<QByteArray>{record, "  FactoryResetORVIK\n", "  SetupUIForORVIK\n",
                             "dependencies: 8\n  Qt6Networkd (debug, os all, platform all, type 1)\n"
                             "  Qt6Network (release, os all, platform all, type 1)\n"
                             "  tls/qcertonlybackendd (debug, os all, platform all, type 1)\n"
                             "  tls/qopensslbackendd (debug, os all, platform all, type 1)\n"
                             "  tls/qschannelbackendd (debug, os all, platform all, type 1)\n"
                             "  tls/qcertonlybackend (release, os all, platform all, type 1)\n"
                             "  tls/qopensslbackend (release, os all, platform all, type 1)\n"
                             "  tls/qschannelbackend (release, os all, platform all, type 1)\n",
                             "ports: 1\n  ntp_recieive_comp: NTP RX Port, udp 42912, profile domain, scope any\n"}
        << QString();
    // The top-level help: commands, options, exit codes and the environment that orvik reads.
    const QList<QByteArray> usage{"usage: orvik [options] COMMAND [options] [arguments]\n",
                                  "  get ",
                                  "  version ",
                                  "  help ",
                                  "  --version ",
                                  "  --verbose ",
                                  "exit codes:\n",
                                  "  2  usage: ",
                                  "environment:\n",
                                  "  http_proxy, https_proxy, all_proxy, no_proxy ",
                                  "  QT_LOGGING_RULES "};
    QTest::newRow("help-lists-commands-and-options") << QStringList{"--help"} << 0 << usage << QString();
    QTest::newRow("help-command") << QStringList{"help"} << 0 << usage << QString();
    const QList<QByteArray> getHelp{"usage: orvik get [options] URL\n",
                                    "An HTTP error status is a failure (exit code 1)",
                                    "  -o, --output FILE ",
                                    "      --insecure ",
                                    "      --timeout SECONDS ",
                                    "      --port N ",
                                    "      --module PATH ",
                                    "  -h, --help "};
    QTest::newRow("command-help-lists-its-options") << QStringList{"get", "--help"} << 0 << getHelp << QString();
    QTest::newRow("help-command-for-a-command") << QStringList{"help", "get"} << 0 << getHelp << QString();
    QTest::newRow("help-before-the-command") << QStringList{"--help", "get"} << 0 << getHelp << QString();
    // Help wins over whatever else stands on the line, and runs nothing: the module is not even loaded.
    const QStringList nowhere{"--module", "/nonexistent/ORVIKNetwork.so"};
    for (const char *command :
         {"module", "demo", "get", "put", "time", "update-check", "update-sign", "wifi", "version"})
        for (const char *help : {"--help-all", "-h"})
            QTest::addRow("%s-%s-runs-nothing", command, help)
                << QStringList{command, help, "--frobnicate"} + nowhere << 0
                << QList<QByteArray>{"usage: orvik " + QByteArray(command) + ' '} << QString();
    // Usage errors: one line that names the fault, then the usage, all on standard error.
    const QList<QByteArray> none;
    const auto refused = [&none](const char *name, const QStringList &arguments, const QString &errors) {
        QTest::newRow(name) << arguments << 2 << none << errors;
    };
    const QString usageAfter = QStringLiteral("\nusage: orvik .+");
    refused("unknown-command", {"frobnicate", "x"}, "orvik: unknown command \"frobnicate\"" + usageAfter);
    refused("missing-command", {}, "orvik: no command given" + usageAfter);
    refused("time-port-zero", {"time", "127.0.0.1", "--port", "0"}, "orvik: --port must be a number from 1 to 65535\n");
    refused("help-for-an-unknown-command", {"help", "frobnicate"},
            "orvik: unknown command \"frobnicate\"" + usageAfter);
    // Mistakes in options: named as typed, with the way to the command's help.
    const QString seeGet = QStringLiteral("; orvik get --help lists the options\n");
    refused("unknown-long-option", {"get", "--frobnicate", "http://127.0.0.1:1/"},
            "orvik: unknown option --frobnicate" + seeGet);
    refused("unknown-short-option-among-known", {"get", "-sx", "http://127.0.0.1:1/"},
            "orvik: unknown option -x \\(in -sx\\)" + seeGet);
    refused("long-option-with-one-dash", {"wifi", "-list"},
            "orvik: unknown option -list \\(did you mean --list\\?\\); orvik wifi --help lists the options\n");
    refused("option-without-its-value", {"get", "http://127.0.0.1:1/", "--timeout"},
            "orvik: --timeout needs a value \\(SECONDS\\)" + seeGet);
    refused("flag-with-a-value", {"get", "http://127.0.0.1:1/", "--insecure=yes"},
            "orvik: --insecure takes no value" + seeGet);
    refused("option-of-another-command-before-it", {"-s", "module"},
            "orvik: unknown option -s; orvik module --help lists the options\n");
    // Extra arguments are refused, not ignored.
    refused("module-extra-argument", {"module", "extra"},
            "orvik: module takes no arguments, and \"extra\" was given; orvik module --help lists the options\n");
    refused("get-second-url", {"get", "http://127.0.0.1:1/", "http://127.0.0.1:2/"},
            "orvik: one argument too many: \"http://127\\.0\\.0\\.1:2/\"" + seeGet);
    refused("help-with-two-commands", {"help", "get", "put"},
            "orvik: help takes one COMMAND, and \"put\" was given as well" + usageAfter);
    // Every number is read the same way, and a limit is written as a number.
    refused("time-timeout-limit", {"time", "127.0.0.1", "--timeout", "1e9"},
            "orvik: --timeout must be a number of seconds above 0 and at most 3600\n");
    refused("update-stall-timeout-not-a-number", {"update-check", "--stall-timeout", "soon"},
            "orvik: --stall-timeout must be a whole number of seconds from 0 to 2000000\n");
    refused("update-sign-expires-days-beyond-a-year",
            {"update-sign", "--key", "k.pem", "d.txt", "--expires-days", "367"},
            "orvik: --expires-days must be a whole number from 1 to 366\n");
    // A module file that cannot serve: one line, and for a file that is no loadable library, the loader's own error.
    const QStringList module{"module", "--module"};
    const QString missing = QStringLiteral("/nonexistent/ORVIKNetwork.so");
    const QString notFound = "orvik: module file not found: " + QRegularExpression::escape(missing) + "\n";
    refused("module-file-missing", module + QStringList{missing}, notFound);
    const QString text = orvikLibraryPath(m_dir.filePath(QStringLiteral("text")));
    QVERIFY(writeFile(text, "not a library\n"));
    refused("module-file-not-a-library", module + QStringList{text},
            "orvik: cannot load module " + QRegularExpression::escape(text) + ": [^\n]+\n");
    const QString base = orvikLibraryPath(QStringLiteral("libORVIKBase"));
    refused("module-file-without-entry", module + QStringList{base},
            "orvik: " + QRegularExpression::escape(base) + " is not an ORVIK module: no entry function\n");
    // Every command that loads the module stops at its failure, before it reaches the network.
    const QList<QStringList> commands = {{"get", "http://127.0.0.1:1/"},
                                         {"put", "http://127.0.0.1:1/", "--data", "x"},
                                         {"time", "127.0.0.1"},
                                         {"update-check"}};
    for (const QStringList &command : commands)
        refused(qPrintable(command.first() + QStringLiteral("-module-file-missing")),
                command + QStringList{"--module", missing}, notFound);
    // Options of every command may stand before it.
    refused("module-option-before-the-command", {"--module", missing, "time", "127.0.0.1"}, notFound);
    QTest::newRow("verbose-before-the-command") << QStringList{"--verbose", "--version"} << 0 << versions << QString();
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

void tst_OrvikModule::initTestCase()
{
    m_library.setFileName(orvikLibraryPath(QStringLiteral("ORVIKNetwork")));
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    QVERIFY(!ModuleManager::GetModule("ORVIKNetwork"));
    // ORVIK::AddORVIKNetworkFunctionsToModuleManager() as g++ and MinGW decorate it.
    const QFunctionPointer entry = m_library.resolve("_ZN5ORVIK39AddORVIKNetworkFunctionsToModuleManagerEv");
    QVERIFY(entry);
    entry();
}

void tst_OrvikModule::hostsCopyHasTheRecordAndTheTenHooks()
{
    const Module *module = ModuleManager::GetModule("ORVIKNetwork");
    QVERIFY(module);
    // Name, version, icon and kind as orvik prints them are asserted in commandLine; here the text ids.
    QCOMPARE(module->display_name, TranslatedString(Translator::DefaultID("ORVIK Network"), "ORVIK Network"));
    QCOMPARE(module->description,
             TranslatedString(Translator::DefaultFastID("orvik_network_module_description"),
                              "Allows application to download or upload files or information on the network"));

    std::set<String> names;
    for (const auto &entry : module->hooks)
        names.insert(entry.first);
    QCOMPARE(names, std::set<String>(std::begin(kHookNames), std::end(kHookNames)));
    for (const char *hook : {kHookNames[0], kHookNames[9]})
        QVERIFY2(module->hook(hook) && module->hook(hook) == exported(hook), hook);
    // The other eight, registered and exported, are one function, which does nothing.
    std::set<QFunctionPointer> addresses;
    for (size_t i = 1; i <= 8; ++i)
        addresses.insert({module->hook(kHookNames[i]), exported(kHookNames[i])});
    QCOMPARE(addresses.size(), std::size_t(1));
    QVERIFY(*addresses.begin() && *addresses.begin() != module->hook(kHookNames[0]));
    // Any number of calls leaves the host's state as it was.
    for (int round = 0; round < 5; ++round)
        for (size_t i = 1; i <= 8; ++i)
            exported(kHookNames[i])();
    QVERIFY(!ItemDownloader::HasNetworkManager());
    QCOMPARE(ModuleManager::ModuleNames(), std::vector<String>{String("ORVIKNetwork")});
}

// Each call appends its entries behind what the record already holds.
void tst_OrvikModule::resourcesHookAppends()
{
    ModuleResources resources;
    resources.dependencies.append(
        ModuleDependency(DependencyType::sharedLibrary, "Other", OSType::windows, ConfigType::all, PlatformType::x64));
    ModulePort other;
    other.id = "other";
    resources.ports.append(other);
    const auto hook = reinterpret_cast<ResourcesHook>(
        ModuleManager::GetModule("ORVIKNetwork")->hook("DefineModuleResourcesForORVIK"));
    hook(resources);
    hook(resources);

    QCOMPARE(resources.dependencies.size(), 1u + 8u * 2);
    QCOMPARE(resources.ports.size(), 1u + 2u);
    QCOMPARE(resources.dependencies[0].file(), String("Other"));
    QCOMPARE(resources.ports[0].id, String("other"));
    // The entries themselves as orvik module prints them are in commandLine; the second call's are the same.
    for (uint32_t i = 1; i <= 8; ++i)
        QCOMPARE(resources.dependencies[8 + i].file(), resources.dependencies[i].file());
    QCOMPARE(resources.ports[2].id, resources.ports[1].id);
    for (uint32_t call = 1; call <= 2; ++call) {
        const ModulePort &port = resources.ports[call];
        QCOMPARE(port.name, TranslatedString(Translator::DefaultID("NTP RX Port"), "NTP RX Port"));
        QVERIFY(port.description.isEmpty());
        QVERIFY(port.entries.isEmpty());
        QCOMPARE(port.flag, true);
    }
}

QTEST_GUILESS_MAIN(tst_OrvikModule)
#include "tst_orvikmodule.moc"
