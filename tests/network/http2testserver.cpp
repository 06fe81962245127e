#include "tests/network/http2testserver.h"

#include "loopback/httptestserver.h"
#include "tests/testfile.h"
#include "tests/testprocess.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace ORVIK {

Http2TestServer::~Http2TestServer()
{
    endProcess(m_nginx);
}

QString Http2TestServer::nginxProgram()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    return onPath.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin")})
                            : onPath;
}

bool Http2TestServer::start(const QString &name, const QByteArray &content)
{
    const QString program = nginxProgram();
    if (program.isEmpty())
        return fail(QStringLiteral("nginx is not installed"));
    if (!m_dir.isValid())
        return fail(m_dir.errorString());
    const QDir dir(m_dir.path());
    dir.mkdir(QStringLiteral("www"));
    if (!writeFile(dir.filePath(QStringLiteral("www/") + name), content))
        return fail(QStringLiteral("cannot write the served file"));
    if (const QString error = makeCertificate(dir.filePath(QStringLiteral("key.pem")),
                                              dir.filePath(QStringLiteral("cert.pem")), QStringLiteral("IP:127.0.0.1"));
        !error.isEmpty())
        return fail(error);

    m_port = HttpTestServer::unusedPort();
    QString user;
#ifndef Q_OS_WIN
    // As root nginx would hand the requests to a user that cannot read this private folder.
    if (geteuid() == 0)
        user = QStringLiteral("user root;\n");
#endif
    const QString temp = dir.path();
    const QString config = dir.filePath(QStringLiteral("nginx.conf"));
    if (!writeFile(config,
                   QStringLiteral("%1worker_processes 1;\ndaemon off;\npid %2/nginx.pid;\n"
                                  "events { worker_connections 16; }\n"
                                  "http {\n  access_log off;\n  client_body_temp_path %2;\n  proxy_temp_path %2;\n"
                                  "  fastcgi_temp_path %2;\n  uwsgi_temp_path %2;\n  scgi_temp_path %2;\n"
                                  "  server {\n    listen 127.0.0.1:%3 ssl http2;\n"
                                  "    ssl_certificate %2/cert.pem;\n    ssl_certificate_key %2/key.pem;\n"
                                  "    root %2/www;\n  }\n}\n")
                       .arg(user, temp)
                       .arg(m_port)
                       .toUtf8()))
        return fail(QStringLiteral("cannot write the nginx configuration"));

    m_nginx.setProcessChannelMode(QProcess::MergedChannels);
    m_nginx.start(program, {QStringLiteral("-e"), dir.filePath(QStringLiteral("error.log")), QStringLiteral("-p"), temp,
                            QStringLiteral("-c"), config});
    if (!m_nginx.waitForStarted(10000))
        return fail(m_nginx.errorString());
    // nginx writes its pid file once it listens; a taken port or a bad setting ends it instead.
    for (int waited = 0; waited < 10000; waited += 20) {
        if (m_nginx.state() != QProcess::Running) {
            QFile log(dir.filePath(QStringLiteral("error.log")));
            log.open(QIODevice::ReadOnly);
            return fail(QStringLiteral("nginx ended: ") + QString::fromLocal8Bit(m_nginx.readAll() + log.readAll()));
        }
        if (QFile::exists(dir.filePath(QStringLiteral("nginx.pid"))))
            return true;
        m_nginx.waitForFinished(20);
    }
    return fail(QStringLiteral("nginx did not start listening within 10 s"));
}

} // namespace ORVIK
