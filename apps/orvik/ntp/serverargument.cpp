#include "apps/orvik/ntp/serverargument.h"

#include "apps/orvik/cli/optionvalues.h"

#include <QHostAddress>

namespace ORVIK {

namespace {

std::optional<ServerArgument> refuse(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

bool isIPv6(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

} // namespace

std::optional<ServerArgument> ServerArgument::parse(const QString &text, QString *error)
{
    if (text.isEmpty())
        return refuse(error, QStringLiteral("a server may not be empty"));
    ServerArgument server;
    QString portText;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        // Brackets are the only way to give an IPv6 address a port: its own colons hide any other.
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(error, QStringLiteral("\"%1\" opens a bracket that it does not close").arg(text));
        server.host = text.mid(1, close - 1);
        if (!isIPv6(server.host))
            return refuse(error, QStringLiteral("\"%1\" is not an IPv6 address in brackets").arg(text));
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return refuse(error, QStringLiteral("\"%1\" has something other than :PORT after its bracket").arg(text));
        hasPort = !rest.isEmpty();
        portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) > 1) {
        if (!isIPv6(text))
            return refuse(
                error, QStringLiteral("\"%1\" is not an IPv6 address (with a port, write [ADDRESS]:PORT)").arg(text));
        server.host = text;
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        hasPort = colon >= 0;
        server.host = hasPort ? text.left(colon) : text;
        portText = hasPort ? text.mid(colon + 1) : QString();
        if (server.host.isEmpty())
            return refuse(error, QStringLiteral("\"%1\" names no host before its port").arg(text));
    }
    if (hasPort) {
        server.port = OptionValues::port(portText);
        if (!server.port)
            return refuse(error, QStringLiteral("the port of \"%1\" must be a number from 1 to 65535").arg(text));
    }
    return server;
}

} // namespace ORVIK
