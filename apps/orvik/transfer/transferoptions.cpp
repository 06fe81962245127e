#include "apps/orvik/transfer/transferoptions.h"

#include "host/widgets/qstringstream.h"

namespace ORVIK {

namespace {

const QCommandLineOption kInsecure(QStringLiteral("insecure"),
                                   QStringLiteral("Accept any TLS certificate (calls ignoreSslErrors)."));
const QCommandLineOption kTimeout(QStringLiteral("timeout"),
                                  QStringLiteral("Give up when the transfer has taken this long (default: never)."),
                                  QStringLiteral("seconds"));
const QCommandLineOption kUser(QStringLiteral("user"), QStringLiteral("User name for the address."),
                               QStringLiteral("name"));
const QCommandLineOption kPassword(QStringLiteral("password"), QStringLiteral("Password for the address."),
                                   QStringLiteral("text"));
const QCommandLineOption kPort(QStringLiteral("port"),
                               QStringLiteral("Port that replaces the address's own (65535: keep the address's)."),
                               QStringLiteral("n"));

} // namespace

void TransferOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOptions({kInsecure, kTimeout, kUser, kPassword, kPort});
}

bool TransferOptions::read(const QCommandLineParser &parser, QTextStream &err)
{
    insecure = parser.isSet(kInsecure);
    user = parser.value(kUser);
    password = parser.value(kPassword);
    bool ok = true;
    if (parser.isSet(kTimeout)) {
        timeoutSeconds = parser.value(kTimeout).toInt(&ok);
        if (!ok || timeoutSeconds <= 0) {
            err << "orvik: --timeout needs a whole number of seconds above 0" << Qt::endl;
            return false;
        }
    }
    if (parser.isSet(kPort)) {
        const uint value = parser.value(kPort).toUInt(&ok);
        if (!ok || value > 65535) {
            err << "orvik: --port needs a number from 0 to 65535" << Qt::endl;
            return false;
        }
        port = uint16_t(value);
    }
    return true;
}

NetworkRequestSettings TransferOptions::settings(const QString &url) const
{
    NetworkRequestSettings result;
    result.url = StringStream<QString>::toString(url);
    result.username = StringStream<QString>::toString(user);
    result.password = StringStream<QString>::toString(password);
    result.port = port;
    return result;
}

} // namespace ORVIK
