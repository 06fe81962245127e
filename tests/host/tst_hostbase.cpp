#include "host/base/buffer.h"
#include "host/base/exception.h"
#include "host/base/file.h"
#include "host/base/modulemanager.h"
#include "host/base/passwordstring.h"
#include "host/base/stringstream.h"
#include "host/base/translator.h"

#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

namespace {

String bytes(const QByteArray &data)
{
    return String(data.constData(), static_cast<uint32_t>(data.size()));
}

} // namespace

class tst_HostBase : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void trimWhiteSpace_data();
    void trimWhiteSpace();
    void ordering_data();
    void ordering();
    void toLowerTouchesAsciiOnly();
    void hashIsFnv1a64();
    void translationIdsAreStable();
    void passwordRoundTrip_data();
    void passwordRoundTrip();
    void fileExistsOnlyForAFile();
    void managerKeepsItsOwnCopy();
};

void tst_HostBase::trimWhiteSpace_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("both-ends-inner-space-kept") << QByteArray("  Home  WiFi \t") << QByteArray("Home  WiFi");
    QTest::newRow("only-white-space") << QByteArray(" \t\r\n\v\f") << QByteArray();
    QTest::newRow("non-ascii-not-space") << QByteArray("\xc2\xa0x\xc2\xa0") << QByteArray("\xc2\xa0x\xc2\xa0");
}

void tst_HostBase::trimWhiteSpace()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    String text = bytes(input);
    String &result = text.trimWhiteSpace();
    QCOMPARE(&result, &text);
    QCOMPARE(QByteArray(text.data(), text.length()), expected);
    QCOMPARE(text.data()[text.length()], '\0');
}

void tst_HostBase::ordering_data()
{
    QTest::addColumn<QByteArray>("lower");
    QTest::addColumn<QByteArray>("higher");
    QTest::newRow("upper-before-lower") << QByteArray("Zulu") << QByteArray("alpha");
    QTest::newRow("prefix-first") << QByteArray("ab") << QByteArray("abc");
    QTest::newRow("high-bytes-unsigned") << QByteArray("z") << QByteArray("\xc3\xa9");
    QTest::newRow("nul-inside") << QByteArray("a\0a", 3) << QByteArray("a\0b", 3);
}

void tst_HostBase::ordering()
{
    QFETCH(QByteArray, lower);
    QFETCH(QByteArray, higher);
    const String a = bytes(lower);
    const String b = bytes(higher);
    QVERIFY(a < b);
    QVERIFY(!(b < a));
    QVERIFY(!(a < a));
    QVERIFY(a != b);
}

void tst_HostBase::toLowerTouchesAsciiOnly()
{
    const String mixed = bytes("MiXeD \xc3\x89T\xc3\xa9 42");
    QCOMPARE(QByteArray(mixed.toLower().data()), QByteArray("mixed \xc3\x89t\xc3\xa9 42"));
    QCOMPARE(QByteArray(mixed.data()), QByteArray("MiXeD \xc3\x89T\xc3\xa9 42")); // the original is untouched
}

void tst_HostBase::hashIsFnv1a64()
{
    // Published FNV-1a 64-bit test vectors.
    QCOMPARE(quint64(String().hash()), quint64(0xcbf29ce484222325ULL));
    QCOMPARE(quint64(String("foobar").hash()), quint64(0x85944171f73967e8ULL));
}

void tst_HostBase::translationIdsAreStable()
{
    const UUID first = Translator::DefaultID("ORVIK Network");
    QCOMPARE(Translator::DefaultID("ORVIK Network"), first);
    QVERIFY(!first.isNull());
    QCOMPARE(first.bytes()[6] >> 4, 5); // name-based, SHA-1
    QVERIFY(Translator::DefaultID("ORVIK network") != first);

    const UUID fast = Translator::DefaultFastID("orvik_network_module_description");
    QCOMPARE(Translator::DefaultFastID("orvik_network_module_description"), fast);
    QVERIFY(fast != Translator::DefaultID("orvik_network_module_description"));
    QVERIFY(Translator::DefaultFastID("orvik_network_module_descriptioN") != fast);

    // A translation replaces the default; without one the default shows.
    const TranslatedString text(first, "ORVIK Network");
    QCOMPARE(text.translation(), String("ORVIK Network"));
    Translator::SetTranslation(first, "ORVIK Netzwerk");
    QCOMPARE(StringStream<TranslatedString>::toString(text), String("ORVIK Netzwerk"));
    Translator::ClearTranslations();
    QCOMPARE(text.translation(), String("ORVIK Network"));
}

void tst_HostBase::passwordRoundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("utf8") << QByteArray("p\xc3\xa4ss w\xc3\xb6rd \xe2\x82\xac");
    QTest::newRow("raw-high-bytes-and-nul") << QByteArray("\xff\xfe\0\x80\x01", 5);
}

void tst_HostBase::passwordRoundTrip()
{
    QFETCH(QByteArray, plain);
    const PasswordString password = PasswordString::Encode(bytes(plain));
    const String decoded = password.decode();
    QCOMPARE(QByteArray(decoded.data(), decoded.length()), plain);
    if (!plain.isEmpty())
        QVERIFY(password.encoded() != bytes(plain));
    // The encoded text re-adopted gives an equal password.
    QCOMPARE(StringStream<PasswordString>::fromString(password.encoded()), password);
}

// Its message, which names the path, is checked by the upload tests.
void tst_HostBase::fileExistsOnlyForAFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY_THROWS_EXCEPTION(Exception,
                             File(bytes(dir.filePath(QStringLiteral("missing")).toUtf8())).throwIfNotExist());
    QVERIFY_THROWS_EXCEPTION(Exception, File(bytes(dir.path().toUtf8())).throwIfNotExist()); // a folder
    QVERIFY_THROWS_EXCEPTION(Exception, File().throwIfNotExist());

    QFile real(dir.filePath(QStringLiteral("present.bin")));
    QVERIFY(real.open(QIODevice::WriteOnly));
    real.close();
    File(bytes(real.fileName().toUtf8())).throwIfNotExist();
}

void tst_HostBase::managerKeepsItsOwnCopy()
{
    {
        Module module("Sample");
        module.version = "2.0";
        QVERIFY(module.addHook("Hook", nullptr));
        QVERIFY(!module.addHook("Hook", reinterpret_cast<HookFunction>(&Translator::ClearTranslations)));
        ModuleManager::AddModule(module);
        module.version = "changed after adding";
    }
    const Module *copy = ModuleManager::GetModule("Sample");
    QVERIFY(copy);
    QCOMPARE(copy->version, String("2.0"));
    QCOMPARE(copy->hooks.size(), std::size_t(1));
    QVERIFY(copy->hook("Hook") == nullptr); // the first insertion stayed
    QVERIFY(!ModuleManager::GetModule("sample"));
    ModuleManager::RemoveModule("Sample");
    QVERIFY(!ModuleManager::GetModule("Sample"));
}

QTEST_GUILESS_MAIN(tst_HostBase)
#include "tst_hostbase.moc"
