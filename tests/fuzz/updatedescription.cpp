// The host's update description parser and version comparison on any downloaded bytes.
#include "host/widgets/update/updatechecker.h"
#include "host/widgets/update/updateversion.h"
#include "tests/fuzz/fuzzcheck.h"

using namespace ORVIK;

namespace {

bool sameEntries(const INIFactory &a, const INIFactory &b)
{
    if (a.entries().size() != b.entries().size())
        return false;
    for (std::size_t i = 0; i < a.entries().size(); ++i)
        if (a.entries()[i].key != b.entries()[i].key || a.entries()[i].value != b.entries()[i].value)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const String current = "1.9.2";
    UpdateChecker checker("Fuzz");
    checker.setCurrentVersion(current);
    // Unsigned input is never remembered; a missing file keeps nothing from outside in play.
    checker.setVersionStorePath(QStringLiteral("/nonexistent/orvik-fuzz/verified-versions.json"));
    int statusSignals = 0;
    QObject::connect(&checker, &UpdateChecker::updateStatusSetSignal, [&statusSignals] { ++statusSignals; });
    checker.processUpdateString(String(reinterpret_cast<const char *>(data), static_cast<uint32_t>(size)));

    const UpdateChecker::UpdateStatus status = checker.updateStatus();
    FUZZ_CHECK(statusSignals == 1);
    FUZZ_CHECK((status == UpdateChecker::UpdateStatusFailed) == !checker.failureReason().isEmpty());
    if (status == UpdateChecker::UpdateStatusFailed) {
        FUZZ_CHECK(checker.getINI().isEmpty());
        return 0;
    }
    const String version = checker.updateVersion();
    FUZZ_CHECK(!checker.updateName().isEmpty() && UpdateVersion::IsValid(version));
    FUZZ_CHECK(!checker.updateVerified());
    FUZZ_CHECK(checker.getINI().value("product").isEmpty() || checker.getINI().value("product") == String("Fuzz"));
    const int order = UpdateVersion::Compare(version, current);
    FUZZ_CHECK((order > 0) == (status == UpdateChecker::UpdateStatusAvailable));
    FUZZ_CHECK(UpdateVersion::Compare(current, version) == -order);
    FUZZ_CHECK(UpdateVersion::Compare(version, version) == 0);
    // What an update server writes from an accepted description reads back the same.
    String error;
    FUZZ_CHECK(sameEntries(INIFactory::Parse(checker.getINI().toText(), &error), checker.getINI()) && error.isEmpty());
    return 0;
}
