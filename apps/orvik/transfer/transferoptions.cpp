#include "apps/orvik/transfer/transferoptions.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/optionvalues.h"
#include "apps/orvik/cli/safetext.h"
#include "host/widgets/qstringstream.h"

#include <QRegularExpression>

namespace ORVIK {

namespace {

// Timers count milliseconds in an int.
constexpr double kMaximumSeconds = 2000000;

const QCommandLineOption kInsecure(QStringLiteral("insecure"),
                                   QStringLiteral("Accept any TLS certificate: the server is not checked."));
const QCommandLineOption kSilent({QStringLiteral("s"), QStringLiteral("silent")},
                                 QStringLiteral("Print nothing but errors: no progress, no summary."));
const QCommandLineOption
    kTimeout(QStringLiteral("timeout"),
             QStringLiteral("Give up when the whole transfer has taken this long (default: never)."),
             QStringLiteral("SECONDS"));
const QCommandLineOption kConnectTimeout(QStringLiteral("connect-timeout"),
                                         QStringLiteral("Give up when the connection (with its TLS handshake) has "
                                                        "not been made within this time (default: no own limit)."),
                                         QStringLiteral("SECONDS"));
const QCommandLineOption kCaCert(QStringLiteral("cacert"),
                                 QStringLiteral("Also trust the certificates in this PEM file, besides the system's."),
                                 QStringLiteral("FILE"));
const QCommandLineOption kUser(QStringLiteral("user"), QStringLiteral("User name for the address."),
                               QStringLiteral("NAME"));
const QCommandLineOption kPassword(QStringLiteral("password"),
                                   QStringLiteral("Password of the user (--user, or the address's own)."),
                                   QStringLiteral("TEXT"));
const QCommandLineOption kPort(QStringLiteral("port"),
                               QStringLiteral("Port (1 to 65535) that replaces the address's own."),
                               QStringLiteral("N"));

bool readSeconds(const CommandLine &parser, const QCommandLineOption &option, qint64 &ms, QTextStream &err)
{
    if (!parser.isSet(option))
        return true;
    const std::optional<qint64> value = OptionValues::secondsAsMs(parser.value(option), kMaximumSeconds);
    if (!value) {
        ErrorLine::print(err, QStringLiteral("--%1 must be a number of seconds above 0 and at most %2")
                                  .arg(option.names().constLast(), OptionValues::plain(kMaximumSeconds)));
        return false;
    }
    ms = *value;
    return true;
}

} // namespace

void TransferOptions::addTo(CommandLine &parser) const
{
    parser.addOptions({kInsecure, kSilent, kTimeout, kConnectTimeout, kCaCert, kUser, kPassword, kPort});
}

bool TransferOptions::read(const QString &address, const CommandLine &parser, QTextStream &err)
{
    url = QUrl(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        // Even a malformed address may carry a password: what stands between ':' and '@' goes.
        QString shown = address;
        shown.replace(QRegularExpression(QStringLiteral("(://[^/@:]*):[^/@]*@")), QStringLiteral("\\1@"));
        ErrorLine::print(err, QStringLiteral("\"%1\" is not a URL that orvik can fetch: it needs http:// or https://, "
                                             "a host and a port from 1 to 65535")
                                  .arg(shown));
        return false;
    }
    insecure = parser.isSet(kInsecure);
    silent = parser.isSet(kSilent);
    caCertificateFile = parser.value(kCaCert);
    user = parser.value(kUser);
    password = parser.value(kPassword);
    // A password alone would go nowhere: the address carries it only with a user name.
    if (parser.isSet(kPassword) && user.isEmpty() && url.userName().isEmpty()) {
        ErrorLine::print(err, QStringLiteral("--password needs a user: --user NAME, or NAME@ in the URL"));
        return false;
    }
    if (!readSeconds(parser, kTimeout, timeoutMs, err) || !readSeconds(parser, kConnectTimeout, connectTimeoutMs, err))
        return false;
    if (parser.isSet(kPort)) {
        port = OptionValues::port(parser.value(kPort));
        if (!port) {
            ErrorLine::print(err, QStringLiteral("--port must be a number from 1 to 65535"));
            return false;
        }
    }
    return true;
}

NetworkRequestSettings TransferOptions::settings() const
{
    NetworkRequestSettings result;
    QUrl target = url;
    // The settings' port 65535 means "keep the URL's": that one port goes on the URL itself.
    if (port && *port == NetworkRequestSettings::kNoPort)
        target.setPort(*port);
    else if (port)
        result.port = *port;
    result.url = StringStream<QString>::toString(target.toString(QUrl::FullyEncoded));
    result.username = StringStream<QString>::toString(user);
    result.password = StringStream<QString>::toString(password);
    return result;
}

QString TransferOptions::printableAddress() const
{
    QUrl shown = url;
    if (port)
        shown.setPort(*port);
    if (!user.isEmpty())
        shown.setUserName(user);
    return SafeText::address(shown);
}

QString TransferOptions::printableEndpoint() const
{
    const int defaultPort = url.scheme().toLower() == QLatin1String("https") ? 443 : 80;
    return QStringLiteral("%1 port %2")
        .arg(SafeText::printable(url.host()))
        .arg(port ? int(*port) : url.port(defaultPort));
}

} // namespace ORVIK
