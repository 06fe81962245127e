// The netsh output parser on any decoded text.
#include "host/widgets/qstringstream.h"
#include "tests/fuzz/fuzzcheck.h"
#include "wifi/wifiscan_p.h"

using namespace ORVIK;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromLocal8Bit(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    Buffer<String> names{"earlier"};
    Buffer<int> qualities{-1};
    parseNetshOutput(text, names, qualities);

    FUZZ_CHECK(names.size() == qualities.size());
    FUZZ_CHECK(names[0] == "earlier" && qualities[0] == -1);
    // Every entry takes an SSID line and a signal line of its own.
    FUZZ_CHECK(2 * (names.size() - 1) <= static_cast<uint32_t>(text.count(QLatin1Char('\n')) + 1));
    for (uint32_t i = 1; i < names.size(); ++i) {
        const QString name = StringStream<QString>::fromString(names[i]);
        FUZZ_CHECK(!name.isEmpty() && name == name.trimmed() && !name.contains(QLatin1Char('\n')));
        FUZZ_CHECK(qualities[i] >= 0);
    }
    return 0;
}
