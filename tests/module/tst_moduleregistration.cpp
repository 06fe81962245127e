#include "host/base/modulemanager.h"
#include "host/base/moduleresources.h"
#include "host/base/translator.h"
#include "host/widgets/itemdownloader.h"
#include "tests/orvikprocess.h"

#include <QLibrary>
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

// The built module as a host loads it: the record and hooks its entry registers, and the hooks it exports
// by symbol, which must be the registered ones.
class tst_ModuleRegistration : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void hostsCopyHasTheRecordAndTheTenHooks();
    void resourcesHookAppends();

private:
    QFunctionPointer exported(const char *hook) { return m_library.resolve(QByteArray("ORVIKNetwork") + hook); }

    QLibrary m_library;
};

void tst_ModuleRegistration::initTestCase()
{
    m_library.setFileName(orvikLibraryPath(QStringLiteral("ORVIKNetwork")));
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    QVERIFY(!ModuleManager::GetModule("ORVIKNetwork"));
    // ORVIK::AddORVIKNetworkFunctionsToModuleManager() as g++ and MinGW decorate it.
    const QFunctionPointer entry = m_library.resolve("_ZN5ORVIK39AddORVIKNetworkFunctionsToModuleManagerEv");
    QVERIFY(entry);
    entry();
}

void tst_ModuleRegistration::hostsCopyHasTheRecordAndTheTenHooks()
{
    const Module *module = ModuleManager::GetModule("ORVIKNetwork");
    QVERIFY(module);
    // Name, version, icon and kind as orvik prints them are asserted in tst_orvikmodule; here the text ids.
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
void tst_ModuleRegistration::resourcesHookAppends()
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
    const char *const files[] = {
        "Qt6Networkd",           "Qt6Network",           "tls/qcertonlybackendd", "tls/qopensslbackendd",
        "tls/qschannelbackendd", "tls/qcertonlybackend", "tls/qopensslbackend",   "tls/qschannelbackend"};
    const char *const configs[] = {"debug", "release", "debug", "debug", "debug", "release", "release", "release"};
    for (uint32_t call = 0; call < 2; ++call) {
        for (uint32_t i = 0; i < 8; ++i) {
            const ModuleDependency &dep = resources.dependencies[1 + 8 * call + i];
            QCOMPARE(dep.type(), DependencyType(1));
            QCOMPARE(dep.file(), String(files[i]));
            QCOMPARE(dep.os(), String(OSType::all));
            QCOMPARE(dep.config(), String(configs[i]));
            QCOMPARE(dep.platform(), String(PlatformType::all));
        }
        const ModulePort &port = resources.ports[1 + call];
        QCOMPARE(port.id, String("ntp_recieive_comp"));
        QCOMPARE(port.name, TranslatedString(Translator::DefaultID("NTP RX Port"), "NTP RX Port"));
        QVERIFY(port.description.isEmpty());
        QVERIFY(port.entries.isEmpty());
        QCOMPARE(port.flag, true); // protocol, number, profile and scope as orvik module prints them
    }
}

QTEST_GUILESS_MAIN(tst_ModuleRegistration)
#include "tst_moduleregistration.moc"
