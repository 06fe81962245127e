#include "host/base/modulemanager.h"
#include "host/widgets/itemdownloader.h"
#include "tests/orvikprocess.h"

#include <QLibrary>
#include <QRegularExpression>
#include <QTest>

#include <set>

using namespace ORVIK;

namespace {

const char *const kEmptyHooks[] = {
    "ORVIKNetworkRegisterUserSettingsForORVIK",
    "ORVIKNetworkSetupFileStructureForORVIK",
    "ORVIKNetworkFactoryResetORVIK",
    "ORVIKNetworkSetupFactoriesForORVIK",
    "ORVIKNetworkSetUpdateCheckerForORVIK",
    "ORVIKNetworkSetupManualsForORVIK",
    "ORVIKNetworkSetupUIThemesForORVIK",
    "ORVIKNetworkSetupUIForORVIK",
};

} // namespace

class tst_ModuleExports : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void emptyHooksAreOneFunction();
    void exactlyTheHostSurfaceIsExported();

private:
    QLibrary m_library;
};

void tst_ModuleExports::initTestCase()
{
    m_library.setFileName(orvikBinPath(QStringLiteral("ORVIKNetwork.so")));
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
}

void tst_ModuleExports::emptyHooksAreOneFunction()
{
    std::set<QFunctionPointer> addresses;
    for (const char *name : kEmptyHooks)
        addresses.insert(m_library.resolve(name));
    QCOMPARE(addresses.size(), std::size_t(1));
    QVERIFY(*addresses.begin());
    QVERIFY(*addresses.begin() != m_library.resolve("ORVIKNetworkSetupMetatypesForORVIK"));

    // Any number of calls leaves the host's state as it was.
    for (int round = 0; round < 5; ++round)
        for (const char *name : kEmptyHooks)
            m_library.resolve(name)();
    QVERIFY(!ItemDownloader::HasNetworkManager());
    QVERIFY(ModuleManager::ModuleNames().empty());
}

void tst_ModuleExports::exactlyTheHostSurfaceIsExported()
{
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"), QStringLiteral("-C"),
                                    QStringLiteral("--format=posix"), orvikBinPath(QStringLiteral("ORVIKNetwork.so"))});
    QVERIFY2(nm.waitForFinished(30000) && nm.exitCode() == 0, "nm (binutils) lists the dynamic symbols");

    std::set<QByteArray> functions = {"ORVIK::AddORVIKNetworkFunctionsToModuleManager()",
                                      "ORVIKNetworkInitializeForORVIK", "ORVIKNetworkDefineModuleResourcesForORVIK",
                                      "ORVIKNetworkSetupMetatypesForORVIK"};
    functions.insert(std::begin(kEmptyHooks), std::end(kEmptyHooks));
    std::set<QByteArray> classes;
    static const QRegularExpression kPosixLine(QStringLiteral("^(.+) ([A-Za-z]) [0-9a-f]+( [0-9a-f]+)?$"));
    for (const QByteArray &line : nm.readAllStandardOutput().split('\n')) {
        // posix format: NAME TYPE VALUE [SIZE]; demangled names contain spaces.
        const QRegularExpressionMatch match = kPosixLine.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        // A local entry of the dynamic table (some sanitizer builds keep one) binds nothing outside;
        // lower-case letters other than weak (w, v) and unique (u) mark local symbols.
        const QChar type = match.captured(2).at(0);
        if (type.isLower() && !QStringLiteral("wvu").contains(type))
            continue;
        const QByteArray symbol = match.captured(1).toUtf8();
        if (functions.erase(symbol))
            continue;
        bool ofExportedClass = false;
        for (const char *name : {"ORVIK::WifiConnectDialog", "ORVIK::ORVIKUpdateChecker"}) {
            const QByteArray owner(name);
            // Of a class's own names only functions and Qt's meta-object: its constants stay inside.
            const bool member =
                symbol.startsWith(owner + "::") && (symbol.contains('(') || symbol == owner + "::staticMetaObject");
            bool described = false;
            for (const char *prefix : {"typeinfo for ", "typeinfo name for ", "vtable for "})
                described = described || symbol == prefix + owner;
            if (member || described) {
                ofExportedClass = true;
                classes.insert(owner);
            }
        }
        QVERIFY2(ofExportedClass, "exported but not part of the host surface: " + symbol);
    }
    for (const QByteArray &missing : functions)
        QFAIL("missing from the exports: " + missing);
    QCOMPARE(classes.size(), std::size_t(2));
}

QTEST_GUILESS_MAIN(tst_ModuleExports)
#include "tst_moduleexports.moc"
