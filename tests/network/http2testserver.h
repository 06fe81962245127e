#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

namespace ORVIK {

// nginx on 127.0.0.1 speaking HTTP/2 over TLS (chosen by ALPN) with a self-signed certificate,
// serving files from a folder of its own. Only tests use it: the in-process server speaks HTTP/1.1.
class Http2TestServer
{
public:
    Http2TestServer() = default;
    ~Http2TestServer();
    Http2TestServer(const Http2TestServer &) = delete;
    Http2TestServer &operator=(const Http2TestServer &) = delete;

    // Whether nginx is installed; without it start() cannot work.
    static QString nginxProgram();
    // Serves `content` as /NAME and starts; on failure returns false and errorString() says why.
    bool start(const QString &name, const QByteArray &content);
    QString errorString() const { return m_error; }
    QUrl url(const QString &path) const { return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_port).arg(path)); }

private:
    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_nginx;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace ORVIK
