#include "apps/orvik/ntp/ntstruststore.h"

// Before OpenSSL's headers, which take back the names (X509_NAME and others) that wincrypt.h defines.
#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace ORVIK::NtsTrustStore {

namespace {

struct X509Free
{
    void operator()(X509 *certificate) const { X509_free(certificate); }
};

} // namespace

// The certificates of the current user's and the machine's ROOT store, as Windows itself trusts them.
bool trustSystemAuthorities(SSL_CTX *context, QString *error)
{
    X509_STORE *store = SSL_CTX_get_cert_store(context);
    HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT");
    if (!system) {
        *error = QStringLiteral("cannot open the system's ROOT certificate store (error %1)").arg(GetLastError());
        return false;
    }
    PCCERT_CONTEXT certificateContext = nullptr;
    while ((certificateContext = CertEnumCertificatesInStore(system, certificateContext)) != nullptr) {
        const unsigned char *der = certificateContext->pbCertEncoded;
        std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &der, long(certificateContext->cbCertEncoded)));
        if (certificate)
            X509_STORE_add_cert(store, certificate.get()); // a duplicate is no harm
    }
    ERR_clear_error();
    CertCloseStore(system, 0);
    return true;
}

} // namespace ORVIK::NtsTrustStore
