#include "apps/orvik/transfer/failuretext.h"

#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/transfer/environmentproxy.h"
#include "apps/orvik/transfer/failureprobe.h"
#include "apps/orvik/transfer/transferoptions.h"

#include <QNetworkProxy>

namespace ORVIK::FailureText {

namespace {

// How Qt turns an HTTP error status into one of its errors, and that error's text in the module.
QString textOfStatus(int status)
{
    switch (status) {
    case 400:
    case 418:
        return QStringLiteral("Protocol Invalid");
    case 401:
    case 407:
        return QStringLiteral("Authentication Required");
    case 403:
        return QStringLiteral("Content Denied");
    case 404:
        return QStringLiteral("Content Not Found");
    case 405:
        return QStringLiteral("Operation Not permitted");
    case 409:
        return QStringLiteral("Content Conflict");
    case 410:
        return QStringLiteral("Content Gone");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 501:
        return QStringLiteral("Operation Not Permitted");
    case 503:
        return QStringLiteral("Service Unavailable");
    default:
        if (status > 500)
            return QStringLiteral("Unkown Server");
        return status >= 400 ? QStringLiteral("Unkown Content") : QString();
    }
}

struct Phrase
{
    const char *text;
    const char *statuses; // every status that Qt reports as the text
};

constexpr Phrase kPhrases[] = {
    {"Protocol Invalid", "400 or 418"},
    {"Content Denied", "403"},
    {"Content Not Found", "404"},
    {"Operation Not permitted", "405"},
    {"Content Conflict", "409"},
    {"Content Gone", "410"},
    {"Unkown Content", "402, 406, 408, 411 to 417 or 419 to 499"},
    {"Internal Server Error", "500"},
    {"Operation Not Permitted", "501"},
    {"Service Unavailable", "503"},
    {"Unkown Server", "502 or 504 to 599"},
};

const QLatin1String kAuthentication("Authentication Required");

QString endpoint(const QUrl &url)
{
    const int defaultPort = url.scheme().toLower() == QLatin1String("https") ? 443 : 80;
    return QStringLiteral("%1 port %2").arg(SafeText::printable(url.host())).arg(url.port(defaultPort));
}

QString proxyName(const QNetworkProxy &proxy)
{
    return QStringLiteral("the proxy %1 port %2").arg(SafeText::printable(proxy.hostName())).arg(proxy.port());
}

// Whether the text stands for more than one status, so that the probe may tell which came.
bool shared(const QString &moduleText)
{
    return moduleText == QLatin1String("Protocol Invalid") || moduleText == kAuthentication ||
           moduleText == QLatin1String("Unkown Content") || moduleText == QLatin1String("Unkown Server");
}

QString statusLine(const QString &reason, const QString &action, const QUrl &request, bool insecure,
                   const QNetworkProxy &proxy)
{
    const bool throughProxy = proxy.type() != QNetworkProxy::NoProxy;
    if (shared(reason)) {
        const FailureProbe::Result probe = FailureProbe::run(request, insecure);
        // Through a proxy, a 407 is the proxy's own answer, as Qt takes it.
        const bool proxyAnswered =
            probe.error == QNetworkReply::ProxyAuthenticationRequiredError || probe.status == 407;
        if (proxyAnswered && throughProxy && reason == kAuthentication)
            return QStringLiteral("%1: %2 answered HTTP 407 (%3)").arg(action, proxyName(proxy), reason);
        // The status counts only when Qt would have given it the module's text: then it is the one.
        if (probe.status > 0 && textOfStatus(probe.status) == reason)
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
    if (!statusPhrase(reason, throughProxy).isEmpty())
        return statusLine(reason, action, request, insecure, proxy);
    if (reason == QLatin1String("Connection Refused"))
        return QStringLiteral("cannot connect to %1: the connection was refused (%2)").arg(target, reason);
    if (reason == QLatin1String("Host Not Found") && !throughProxy)
        return QStringLiteral("cannot resolve the host %1 (%2)").arg(SafeText::printable(request.host()), reason);
    if (reason == QLatin1String("Remote Host Closed") || reason == QLatin1String("Timeout"))
        return QStringLiteral("%1: %2 (%3)").arg(action, reason, target);
    if (reason == QLatin1String("SSL Handshake"))
        return tlsLine(reason, request, insecure, proxy);
    if (reason == QLatin1String("Protocol Unknown"))
        return QStringLiteral("%1: orvik fetches only http:// and https:// addresses (%2)").arg(action, reason);
    return QStringLiteral("%1: %2").arg(action, SafeText::printable(reason));
}

} // namespace

QString statusText(int status)
{
    return textOfStatus(status);
}

QString statusPhrase(const QString &moduleText, bool throughProxy)
{
    if (moduleText == kAuthentication)
        return throughProxy ? QStringLiteral("HTTP 401 from the server or 407 from the proxy")
                            : QStringLiteral("the server answered HTTP 401 or 407");
    for (const Phrase &phrase : kPhrases)
        if (moduleText == QLatin1String(phrase.text))
            return QStringLiteral("the server answered HTTP %1").arg(QLatin1String(phrase.statuses));
    return QString();
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
