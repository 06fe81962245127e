#include "apps/orvik/transfer/failuretext.h"

#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/transfer/environmentproxy.h"
#include "apps/orvik/transfer/transferoptions.h"

#include <QSslError>
#include <QSslSocket>
#include <QStringList>

namespace ORVIK::FailureText {

namespace {

struct StatusText
{
    int status;
    const char *text;
};

// The statuses that Qt reports as one of its errors, and that error's text in the module. 401 and 407
// share "Authentication Required"; a proxy is rarely in play, so it reads as 401.
constexpr StatusText kStatusTexts[] = {
    {401, "Authentication Required"}, {403, "Content Denied"},      {404, "Content Not Found"},
    {405, "Operation Not permitted"}, {409, "Content Conflict"},    {410, "Content Gone"},
    {418, "Protocol Invalid"},        {499, "Unkown Content"},      {500, "Internal Server Error"},
    {501, "Operation Not Permitted"}, {503, "Service Unavailable"}, {599, "Unkown Server"},
};

constexpr int kProbeTimeoutMs = 10000;

// Connects to the server once more and lists what Qt finds wrong with its certificate.
QString certificateProblems(const TransferOptions &options)
{
    QSslSocket socket;
    // The way the request went: through the same proxy, if one applies.
    socket.setProxy(EnvironmentProxy().proxyFor(options.url));
    socket.connectToHostEncrypted(options.url.host(), quint16(options.port ? *options.port : options.url.port(443)));
    socket.waitForEncrypted(kProbeTimeoutMs);
    QStringList problems;
    for (const QSslError &error : socket.sslHandshakeErrors())
        if (!problems.contains(error.errorString()))
            problems << error.errorString();
    socket.abort();
    return problems.join(QStringLiteral("; "));
}

} // namespace

int httpStatus(const QString &moduleText)
{
    for (const StatusText &entry : kStatusTexts)
        if (moduleText == QLatin1String(entry.text))
            return entry.status;
    return 0;
}

QString describe(const QString &reason, const QString &method, const TransferOptions &options)
{
    const QString address = options.printableAddress();
    // With a proxy, the connection that fails is the one to the proxy.
    const QNetworkProxy proxy = EnvironmentProxy().proxyFor(options.url);
    const QString endpoint = proxy.type() == QNetworkProxy::NoProxy
                                 ? options.printableEndpoint()
                                 : QStringLiteral("the proxy %1 port %2").arg(proxy.hostName()).arg(proxy.port());
    if (const int status = httpStatus(reason)) {
        const QString shown = status % 100 == 99 ? QStringLiteral("%1xx").arg(status / 100) : QString::number(status);
        return QStringLiteral("%1 %2: the server answered HTTP %3 (%4)").arg(method, address, shown, reason);
    }
    if (reason == QLatin1String("Connection Refused"))
        return QStringLiteral("cannot connect to %1: the connection was refused (%2)").arg(endpoint, reason);
    if (reason == QLatin1String("Host Not Found") && proxy.type() == QNetworkProxy::NoProxy)
        return QStringLiteral("cannot resolve the host %1 (%2)").arg(SafeText::printable(options.url.host()), reason);
    if (reason == QLatin1String("Remote Host Closed") || reason == QLatin1String("Timeout"))
        return QStringLiteral("%1 %2: %3 (%4)").arg(method, address, reason, endpoint);
    if (reason == QLatin1String("SSL Handshake")) {
        QString problems = certificateProblems(options);
        if (problems.isEmpty())
            problems = QStringLiteral("the handshake failed");
        return QStringLiteral("TLS handshake with %1 failed: %2 (%3); --insecure accepts any certificate, --cacert "
                              "FILE trusts one more")
            .arg(endpoint, problems, reason);
    }
    return QStringLiteral("%1 %2: %3").arg(method, address, SafeText::printable(reason));
}

} // namespace ORVIK::FailureText
