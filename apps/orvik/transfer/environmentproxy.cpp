#include "apps/orvik/transfer/environmentproxy.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace ORVIK {

EnvironmentProxy::EnvironmentProxy() : m_lookup([](const char *name) { return qEnvironmentVariable(name); })
{}

QString EnvironmentProxy::variable(const char *lower, const char *upper) const
{
    const QString value = m_lookup(lower).trimmed();
    return value.isEmpty() && upper ? m_lookup(upper).trimmed() : value;
}

bool EnvironmentProxy::excluded(const QString &host, const QString &noProxy)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const QHostAddress address(name);
    const QStringList entries = noProxy.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    for (QString entry : entries) {
        entry = entry.toLower();
        if (entry == QLatin1String("*"))
            return true;
        if (!address.isNull()) {
            if (entry.startsWith(QLatin1Char('[')) && entry.endsWith(QLatin1Char(']')))
                entry = entry.mid(1, entry.size() - 2);
            const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(entry);
            if (entry.contains(QLatin1Char('/')) ? (!subnet.first.isNull() && address.isInSubnet(subnet))
                                                 : QHostAddress(entry).isEqual(address))
                return true;
            continue;
        }
        while (entry.startsWith(QLatin1Char('.')))
            entry.remove(0, 1);
        if (entry.endsWith(QLatin1Char('.')))
            entry.chop(1);
        if (!entry.isEmpty() && (name == entry || name.endsWith(QLatin1Char('.') + entry)))
            return true;
    }
    return false;
}

QString EnvironmentProxy::selected(const QUrl &url, QString &name) const
{
    const QString scheme = url.scheme().toLower();
    QString setting;
    if (scheme == QLatin1String("http")) {
        name = QStringLiteral("http_proxy");
        setting = variable("http_proxy", nullptr);
    } else if (scheme == QLatin1String("https")) {
        name = QStringLiteral("https_proxy");
        setting = variable("https_proxy", "HTTPS_PROXY");
    } else {
        return QString();
    }
    if (setting.isEmpty()) {
        name = QStringLiteral("all_proxy");
        setting = variable("all_proxy", "ALL_PROXY");
    }
    if (setting.isEmpty() || excluded(url.host(), variable("no_proxy", "NO_PROXY")))
        return QString();
    // Qt itself never sends loopback addresses and localhost through a proxy.
    const QString host = url.host().toLower();
    if (host == QLatin1String("localhost") || host.startsWith(QLatin1String("localhost.")) ||
        QHostAddress(host).isLoopback())
        return QString();
    return setting.contains(QLatin1String("://")) ? setting : QLatin1String("http://") + setting;
}

QNetworkProxy EnvironmentProxy::proxyFor(const QUrl &url) const
{
    QString name;
    const QUrl proxyUrl(selected(url, name));
    const QString scheme = proxyUrl.scheme().toLower();
    if (!proxyUrl.isValid() || proxyUrl.host().isEmpty())
        return QNetworkProxy::NoProxy;
    QNetworkProxy::ProxyType type = QNetworkProxy::HttpProxy;
    if (scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h"))
        type = QNetworkProxy::Socks5Proxy;
    else if (scheme != QLatin1String("http"))
        return QNetworkProxy::NoProxy;
    // 1080 is curl's default proxy port.
    return QNetworkProxy(type, proxyUrl.host(), quint16(proxyUrl.port(1080)), proxyUrl.userName(), proxyUrl.password());
}

QString EnvironmentProxy::problemFor(const QUrl &url) const
{
    QString name;
    const QString setting = selected(url, name);
    if (setting.isEmpty() || proxyFor(url).type() != QNetworkProxy::NoProxy)
        return QString();
    return QStringLiteral("%1 is not a proxy orvik can use: it takes http:// and socks5:// proxies with a host")
        .arg(name);
}

QList<QNetworkProxy> EnvironmentProxy::queryProxy(const QNetworkProxyQuery &query)
{
    if (query.queryType() != QNetworkProxyQuery::UrlRequest)
        return {QNetworkProxy::NoProxy};
    return {proxyFor(query.url())};
}

} // namespace ORVIK
