// URL building from any request settings. The input is "port\nuser name\npassword\nURL": a port line
// that is not a number means no port; the URL is the rest, line feeds included.
#include "host/widgets/qstringstream.h"
#include "network/qtnetworkaccessmanager.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QUrl>

using namespace ORVIK;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> lines = input.split('\n');
    const auto line = [&lines](int index) { return index < lines.size() ? lines[index] : QByteArray(); };
    bool number = false;
    const uint port = line(0).toUInt(&number);

    NetworkRequestSettings settings;
    settings.port = number ? static_cast<uint16_t>(port) : NetworkRequestSettings::kNoPort;
    settings.username = StringStream<QByteArray>::toString(line(1));
    settings.password = StringStream<QByteArray>::toString(line(2));
    settings.url = StringStream<QByteArray>::toString(lines.mid(3).join('\n'));
    const QUrl url = QtNetworkAccessManager::buildQNetworkRequest(settings).url();
    const QUrl parsed(StringStream<QString>::fromString(settings.url), QUrl::TolerantMode);

    FUZZ_CHECK(url.port() == (settings.port == NetworkRequestSettings::kNoPort ? parsed.port() : settings.port));
    const QString username = StringStream<QString>::fromString(settings.username);
    const QString password = StringStream<QString>::fromString(settings.password);
    FUZZ_CHECK(url.userName(QUrl::FullyDecoded) ==
               (username.isEmpty() ? parsed.userName(QUrl::FullyDecoded) : username));
    FUZZ_CHECK(url.password(QUrl::FullyDecoded) ==
               (password.isEmpty() ? parsed.password(QUrl::FullyDecoded) : password));
    FUZZ_CHECK(url.scheme() == parsed.scheme() && url.host() == parsed.host() && url.path() == parsed.path());
    return 0;
}
