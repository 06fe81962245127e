#include "host/base/modulemanager.h"
#include "host/widgets/itemdownloader.h"

#include <QDir>
#include <QLibrary>
#include <QProcess>
#include <QTest>

#include <set>

using namespace ORVIK;

namespace {

QString modulePath()
{
    return QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("ORVIKNetwork.so"));
}

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
    void everyHookResolves_data();
    void everyHookResolves();
    void emptyHooksAreOneFunction();
    void internalsStayHidden();

private:
    QLibrary m_library;
};

void tst_ModuleExports::initTestCase()
{
    m_library.setFileName(modulePath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
}

void tst_ModuleExports::everyHookResolves_data()
{
    QTest::addColumn<QByteArray>("symbol");
    for (const char *name : {"_ZN5ORVIK39AddORVIKNetworkFunctionsToModuleManagerEv", "ORVIKNetworkInitializeForORVIK",
                             "ORVIKNetworkDefineModuleResourcesForORVIK", "ORVIKNetworkSetupMetatypesForORVIK"})
        QTest::newRow(name) << QByteArray(name);
    for (const char *name : kEmptyHooks)
        QTest::newRow(name) << QByteArray(name);
}

void tst_ModuleExports::everyHookResolves()
{
    QFETCH(QByteArray, symbol);
    QVERIFY2(m_library.resolve(symbol.constData()), symbol.constData());
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

void tst_ModuleExports::internalsStayHidden()
{
    // Only the host-facing surface is exported; helpers and hidden classes are not.
    QVERIFY(!m_library.resolve("orvikNetworkEmptyHook"));
    QVERIFY(!m_library.resolve("ORVIKNetworkEmptyHook"));

    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"), modulePath()});
    if (!nm.waitForFinished(30000) || nm.exitCode() != 0)
        QSKIP("nm is not available to list the dynamic symbols");
    const QList<QByteArray> lines = nm.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray symbol = line.split(' ').last();
        QVERIFY2(!symbol.contains("QtNetworkRequest") && !symbol.contains("QtNetworkAccessManager") &&
                     !symbol.contains("NtpClient") && !symbol.contains("scanWithWlanApi") &&
                     !symbol.contains("parseNetshOutput") && !symbol.contains("WlanFunctions"),
                 symbol.constData());
    }
}

QTEST_GUILESS_MAIN(tst_ModuleExports)
#include "tst_moduleexports.moc"
