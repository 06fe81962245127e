#include "host/base/modulemanager.h"
#include "host/widgets/itemdownloader.h"
#include "tests/orvikprocess.h"

#include <QLibrary>
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

private:
    QLibrary m_library;
};

void tst_ModuleExports::initTestCase()
{
    m_library.setFileName(orvikLibraryPath(QStringLiteral("ORVIKNetwork")));
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

QTEST_GUILESS_MAIN(tst_ModuleExports)
#include "tst_moduleexports.moc"
