#pragma once

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QString>
#include <QUrl>

#include <functional>

namespace ORVIK {

// Proxies for web transfers as curl reads them from the environment: http_proxy for http://
// addresses (lower case only: a web server's CGI sets HTTP_PROXY from a request header),
// https_proxy or HTTPS_PROXY for https://, all_proxy or ALL_PROXY for both when those are unset,
// and no_proxy or NO_PROXY: "*", or a list separated by commas of host names (which also cover
// their subdomains; a leading dot changes nothing), addresses and address ranges (10.0.0.0/8).
// A proxy address without a scheme is an HTTP proxy; socks5:// and socks5h:// name a SOCKS 5 proxy.
// Loopback addresses and localhost always go direct: Qt sends them through no proxy.
class EnvironmentProxy : public QNetworkProxyFactory
{
public:
    using Lookup = std::function<QString(const char *name)>;

    // Reads the process environment when asked.
    EnvironmentProxy();
    explicit EnvironmentProxy(Lookup lookup) : m_lookup(std::move(lookup)) {}

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;

    // The proxy for this address; NoProxy when none applies.
    QNetworkProxy proxyFor(const QUrl &url) const;
    // Why the variable that applies to this address cannot be used; empty when it can (or none applies).
    QString problemFor(const QUrl &url) const;
    // Whether no_proxy names this host.
    static bool excluded(const QString &host, const QString &noProxy);

private:
    QString variable(const char *lower, const char *upper) const;
    // The setting that applies to the address (empty: none) and the variable's name.
    QString selected(const QUrl &url, QString &name) const;

    Lookup m_lookup;
};

} // namespace ORVIK
