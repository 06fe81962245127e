#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// What the tests' own peers (chronyd, nginx, D-Bus daemons, mocks) need from a process of theirs.

// Asks a peer to stop, and kills it when it does not within the time.
inline void endProcess(QProcess &process, int timeoutMs = 10000)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(timeoutMs);
}

// Makes a self-signed P-256 certificate for `names` (subjectAltName's form, e.g. "IP:127.0.0.1") with
// the openssl program; empty when made, else what went wrong.
inline QString makeCertificate(const QString &keyFile, const QString &certificateFile, const QString &names)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                              "-nodes", "-days", "2", "-subj", "/CN=orvik-test", "-addext",
                                              "subjectAltName=" + names, "-keyout", keyFile, "-out", certificateFile});
    if (openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0)
        return {};
    return QStringLiteral("openssl cannot make a certificate: ") + openssl.errorString() + QLatin1Char(' ') +
           QString::fromLocal8Bit(openssl.readAll());
}
