#pragma once

#include <QString>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace ORVIK {

struct OpenSslDeleter
{
    void operator()(SSL *ssl) const { SSL_free(ssl); }
    void operator()(SSL_CTX *context) const { SSL_CTX_free(context); }
    void operator()(X509 *certificate) const { X509_free(certificate); }
    void operator()(X509_EXTENSION *extension) const { X509_EXTENSION_free(extension); }
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
    void operator()(BIGNUM *number) const { BN_free(number); }
};
template <typename T>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter>;

// The server side of HttpTestServer's TLS, on libssl: a fresh self-signed certificate for 127.0.0.1, ::1
// and localhost (an EC P-256 key, valid for two days), and the sessions that present it. Qt's own TLS
// server cannot serve here: its Schannel backend needs CertFindChainInStore, which Wine only stubs.
class TlsServerContext
{
public:
    // A context with a new certificate; null, with `error` saying why, when OpenSSL fails.
    static std::unique_ptr<TlsServerContext> create(QString *error);

    // A session in server mode that reads and writes through memory BIOs; null when OpenSSL fails.
    OpenSslPtr<SSL> newSession() const;

private:
    explicit TlsServerContext(OpenSslPtr<SSL_CTX> context) : m_context(std::move(context)) {}

    OpenSslPtr<SSL_CTX> m_context;
};

// OpenSSL's first queued error as text, or `fallback`; empties this thread's error queue.
QString takeOpenSslError(const QString &fallback = QStringLiteral("unknown OpenSSL error"));

} // namespace ORVIK
