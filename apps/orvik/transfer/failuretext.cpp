#include "apps/orvik/transfer/failuretext.h"

#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/transfer/environmentproxy.h"
#include "apps/orvik/transfer/failureprobe.h"
#include "apps/orvik/transfer/transferoptions.h"
#include "host/widgets/networkerror.h"

#include <QNetworkProxy>

namespace ORVIK::FailureText {

namespace {

// The module's text as the error it stands for; an unknown text stands for none.
NetworkError errorOf(const QString &moduleText)
{
    NetworkError unknown;
    unknown.code = QNetworkReply::UnknownNetworkError;
    return NetworkError::fromText(moduleText).value_or(unknown);
}

// "400 or 418", "402, 406, 408, 411 to 417 or 419 to 499".
QString statusList(const NetworkError &error)
{
    QStringList parts;
    for (const NetworkError::StatusRange &range : error.statuses)
        parts.append(range.first == range.last ? QString::number(range.first)
                                               : QStringLiteral("%1 to %2").arg(range.first).arg(range.last));
    const QString last = parts.takeLast();
    return parts.isEmpty() ? last : parts.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString endpoint(const QUrl &url)
{
    const int defaultPort = url.scheme().toLower() == QLatin1String("https") ? 443 : 80;
    return QStringLiteral("%1 port %2").arg(SafeText::printable(url.host())).arg(url.port(defaultPort));
}

QString proxyName(const QNetworkProxy &proxy)
{
    return QStringLiteral("the proxy %1 port %2").arg(SafeText::printable(proxy.hostName())).arg(proxy.port());
}

QString statusLine(const QString &reason, const QString &action, const QUrl &request, bool insecure,
                   const QNetworkProxy &proxy)
{
    const bool throughProxy = proxy.type() != QNetworkProxy::NoProxy;
    const NetworkError error = errorOf(reason);
    // A text that stands for more than one status: the probe may tell which came.
    if (error.statusCount() > 1) {
        const FailureProbe::Result probe = FailureProbe::run(request, insecure);
        // Through a proxy, a 407 is the proxy's own answer, as Qt takes it.
        const bool proxyAnswered =
            probe.error == QNetworkReply::ProxyAuthenticationRequiredError || probe.status == 407;
        if (proxyAnswered && throughProxy && error.proxyCode == QNetworkReply::ProxyAuthenticationRequiredError)
            return QStringLiteral("%1: %2 answered HTTP 407 (%3)").arg(action, proxyName(proxy), reason);
        // The status counts only when Qt would have given it the module's text: then it is the one.
        const std::optional<NetworkError> answered = NetworkError::fromStatus(probe.status);
        if (probe.status > 0 && answered && answered->code == error.code)
            return QStringLiteral("%1: the server answered HTTP %2 (%3)").arg(action).arg(probe.status).arg(reason);
    }
    return QStringLiteral("%1: %2 (%3)").arg(action, statusPhrase(reason, throughProxy), reason);
}

QString tlsLine(const QString &reason, const QUrl &request, bool insecure, const QNetworkProxy &proxy)
{
    const FailureProbe::Result probe = FailureProbe::run(request, insecure);
    // The server whose handshake failed: after a redirect, not the one first asked.
    QString where = endpoint(probe.url.isValid() && !probe.url.host().isEmpty() ? probe.url : request);
    if (proxy.type() != QNetworkProxy::NoProxy) {
        where += QStringLiteral(" through ") + proxyName(proxy);
        // The proxy ended the tunnel before any handshake with the server.
        if (probe.sslProblems.isEmpty() && probe.error >= QNetworkReply::ProxyConnectionRefusedError &&
            probe.error <= QNetworkReply::UnknownProxyError)
            return QStringLiteral("TLS handshake with %1 failed at the proxy: %2 (%3)")
                .arg(where, SafeText::printable(probe.errorString), reason);
    }
    QString problems = probe.sslProblems.join(QStringLiteral("; "));
    if (problems.isEmpty())
        problems = probe.error == QNetworkReply::SslHandshakeFailedError ? SafeText::printable(probe.errorString)
                                                                         : QStringLiteral("the handshake failed");
    else if (proxy.type() != QNetworkProxy::NoProxy)
        problems.prepend(QStringLiteral("the server's certificate: "));
    return QStringLiteral("TLS handshake with %1 failed: %2 (%3); --insecure accepts any certificate, --cacert FILE "
                          "trusts one more")
        .arg(where, problems, reason);
}

// `request` is the address as it was asked for (with its user and password); `shown` the same fit to print.
QString describeRequest(const QString &reason, const QString &method, const QUrl &request, const QString &shown,
                        bool insecure)
{
    const QString action = QStringLiteral("%1 %2").arg(method, shown);
    const QNetworkProxy proxy = EnvironmentProxy().proxyFor(request);
    const bool throughProxy = proxy.type() != QNetworkProxy::NoProxy;
    // With a proxy, the connection that fails is the one to the proxy.
    const QString target = throughProxy ? proxyName(proxy) : endpoint(request);
    const NetworkError error = errorOf(reason);
    if (!error.statuses.isEmpty())
        return statusLine(reason, action, request, insecure, proxy);
    switch (error.code) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("cannot connect to %1: the connection was refused (%2)").arg(target, reason);
    case QNetworkReply::HostNotFoundError:
        if (throughProxy)
            break;
        return QStringLiteral("cannot resolve the host %1 (%2)").arg(SafeText::printable(request.host()), reason);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("%1: %2 (%3)").arg(action, reason, target);
    case QNetworkReply::SslHandshakeFailedError:
        return tlsLine(reason, request, insecure, proxy);
    case QNetworkReply::ProtocolUnknownError:
        return QStringLiteral("%1: orvik fetches only http:// and https:// addresses (%2)").arg(action, reason);
    default:
        break;
    }
    return QStringLiteral("%1: %2").arg(action, SafeText::printable(reason));
}

} // namespace

QString statusPhrase(const QString &moduleText, bool throughProxy)
{
    const NetworkError error = errorOf(moduleText);
    if (error.statuses.isEmpty())
        return QString();
    // Through a proxy, a 407 is the proxy's own answer.
    if (throughProxy && error.proxyCode == QNetworkReply::ProxyAuthenticationRequiredError)
        return QStringLiteral("HTTP 401 from the server or 407 from the proxy");
    return QStringLiteral("the server answered HTTP %1").arg(statusList(error));
}

QString describe(const QString &reason, const QString &method, const TransferOptions &options)
{
    QUrl request = options.url;
    if (options.port)
        request.setPort(*options.port);
    if (!options.user.isEmpty())
        request.setUserName(options.user);
    if (!options.password.isEmpty())
        request.setPassword(options.password);
    return describeRequest(reason, method, request, options.printableAddress(), options.insecure);
}

QString describe(const QString &reason, const QString &method, const QUrl &url)
{
    return describeRequest(reason, method, url, SafeText::address(url), false);
}

} // namespace ORVIK::FailureText
