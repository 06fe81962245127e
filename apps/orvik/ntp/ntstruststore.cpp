#include "apps/orvik/ntp/ntstruststore.h"

#include "apps/orvik/cli/safetext.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace ORVIK::NtsTrustStore {

namespace {

// Far more than any bundle of authorities; a bigger file is not one.
constexpr qint64 kMaximumCaFileSize = 4 * 1024 * 1024;

struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
struct X509Free
{
    void operator()(X509 *certificate) const { X509_free(certificate); }
};

bool addCaFile(X509_STORE *store, const QString &caFile, QString *error)
{
    const QString shown = SafeText::printable(caFile);
    // A regular file only: a device or a pipe could block or never end.
    if (!QFileInfo(caFile).isFile()) {
        *error = QStringLiteral("%1 is not a regular file").arg(shown);
        return false;
    }
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(shown, file.errorString());
        return false;
    }
    const QByteArray pem = file.read(kMaximumCaFileSize + 1);
    if (pem.size() > kMaximumCaFileSize) {
        *error = QStringLiteral("%1 is larger than %2 bytes").arg(shown).arg(kMaximumCaFileSize);
        return false;
    }
    const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    int added = 0;
    while (bio) {
        std::unique_ptr<X509, X509Free> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!certificate)
            break;
        if (X509_STORE_add_cert(store, certificate.get()) == 1)
            ++added;
    }
    ERR_clear_error(); // the end of the file reads as an error
    if (added == 0) {
        *error = QStringLiteral("%1 holds no PEM certificate").arg(shown);
        return false;
    }
    return true;
}

} // namespace

bool configure(SSL_CTX *context, const QString &caFile, QString *error)
{
    if (!trustSystemAuthorities(context, error))
        return false;
    return caFile.isEmpty() || addCaFile(SSL_CTX_get_cert_store(context), caFile, error);
}

} // namespace ORVIK::NtsTrustStore
