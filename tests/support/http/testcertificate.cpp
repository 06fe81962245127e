#include "tests/support/http/testcertificate.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace ORVIK {

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TestCertificate TestCertificate::generate()
{
    TestCertificate result;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        result.error = QStringLiteral("cannot create a temporary folder: %1").arg(dir.errorString());
        return result;
    }
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
    // An EC key is generated in milliseconds, unlike RSA, which keeps test start-up short.
    const QStringList arguments = {
        QStringLiteral("req"),
        QStringLiteral("-x509"),
        QStringLiteral("-newkey"),
        QStringLiteral("ec"),
        QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"),
        QStringLiteral("-nodes"),
        QStringLiteral("-keyout"),
        keyPath,
        QStringLiteral("-out"),
        certPath,
        QStringLiteral("-days"),
        QStringLiteral("2"),
        QStringLiteral("-subj"),
        QStringLiteral("/CN=127.0.0.1"),
        QStringLiteral("-addext"),
        QStringLiteral("subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost"),
    };
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        result.error = QStringLiteral("openssl failed: %1 %2")
                           .arg(openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()).trimmed());
        return result;
    }
    result.certificate = QSslCertificate(readAll(certPath), QSsl::Pem);
    result.privateKey = QSslKey(readAll(keyPath), QSsl::Ec, QSsl::Pem);
    if (result.certificate.isNull() || result.privateKey.isNull())
        result.error = QStringLiteral("openssl wrote a certificate or key that Qt cannot read");
    return result;
}

} // namespace ORVIK
