#include "apps/orvik/transfer/transfersetup.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/cli/terminal.h"
#include "apps/orvik/transfer/environmentproxy.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cstdio>

namespace ORVIK::TransferSetup {

bool prepare(const TransferOptions &options, QTextStream &err)
{
    if (!options.caCertificateFile.isEmpty()) {
        const QString shown = SafeText::printable(options.caCertificateFile);
        QFile file(options.caCertificateFile);
        if (!file.open(QIODevice::ReadOnly)) {
            ErrorLine::print(err, QStringLiteral("cannot read %1: %2").arg(shown, file.errorString()));
            return false;
        }
        const QList<QSslCertificate> certificates = QSslCertificate::fromDevice(&file, QSsl::Pem);
        if (certificates.isEmpty()) {
            ErrorLine::print(err, shown + QStringLiteral(" holds no PEM certificate"));
            return false;
        }
        // Requests take the default configuration when they start.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(certificates);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
    const QString proxyProblem = EnvironmentProxy().problemFor(options.url);
    if (!proxyProblem.isEmpty()) {
        ErrorLine::print(err, proxyProblem);
        return false;
    }
    return true;
}

void configure(TransferRun &run, const TransferOptions &options)
{
    run.setInsecure(options.insecure);
    run.setTimeoutMs(options.timeoutMs);
    if (options.connectTimeoutMs > 0)
        run.setConnectTimeoutMs(options.connectTimeoutMs, QStringLiteral("cannot connect to %1 within %2 s")
                                                              .arg(options.printableEndpoint())
                                                              .arg(double(options.connectTimeoutMs) / 1000));
}

bool standardErrorIsTerminal()
{
    return Terminal::isTerminal(stderr);
}

bool showsProgress(const TransferOptions &options, bool bodyToStandardOutput)
{
    return !options.silent && !(bodyToStandardOutput && Terminal::isTerminal(stdout) && standardErrorIsTerminal());
}

} // namespace ORVIK::TransferSetup
