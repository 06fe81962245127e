#include "apps/orvik/ntp/ntstruststore.h"

#include "apps/orvik/cli/safetext.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
// Before OpenSSL's headers, which take back the names (X509_NAME and others) that wincrypt.h defines.
#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>
#endif

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

#ifdef Q_OS_WIN
// The certificates of the current user's and the machine's ROOT store, as Windows itself trusts them.
bool addSystemRoots(X509_STORE *store, QString *error)
{
    HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT");
    if (!system) {
        *error = QStringLiteral("cannot open the system's ROOT certificate store (error %1)").arg(GetLastError());
        return false;
    }
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(system, context)) != nullptr) {
        const unsigned char *der = context->pbCertEncoded;
        std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &der, long(context->cbCertEncoded)));
        if (certificate)
            X509_STORE_add_cert(store, certificate.get()); // a duplicate is no harm
    }
    ERR_clear_error();
    CertCloseStore(system, 0);
    return true;
}
#endif

} // namespace

bool configure(SSL_CTX *context, const QString &caFile, QString *error)
{
    X509_STORE *store = SSL_CTX_get_cert_store(context);
#ifdef Q_OS_WIN
    if (!addSystemRoots(store, error))
        return false;
#else
    SSL_CTX_set_default_verify_paths(context);
#endif
    return caFile.isEmpty() || addCaFile(store, caFile, error);
}

} // namespace ORVIK::NtsTrustStore
