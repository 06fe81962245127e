#include "loopback/tlsservercontext_p.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <utility>

namespace ORVIK {

namespace {

constexpr long kValidBeforeNow = 60 * 60; // clocks of client and server may differ a little
constexpr long kValidAfterNow = 2 * 24 * 60 * 60;

OpenSslPtr<X509> selfSigned(EVP_PKEY *key)
{
    OpenSslPtr<X509> certificate(X509_new());
    OpenSslPtr<BIGNUM> serial(BN_new());
    if (!certificate || !serial || !BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())))
        return nullptr;
    X509 *x509 = certificate.get();
    X509_NAME *name = X509_get_subject_name(x509);
    static const unsigned char kCommonName[] = "127.0.0.1";
    if (!X509_set_version(x509, X509_VERSION_3) || !X509_gmtime_adj(X509_getm_notBefore(x509), -kValidBeforeNow) ||
        !X509_gmtime_adj(X509_getm_notAfter(x509), kValidAfterNow) || !X509_set_pubkey(x509, key) ||
        !X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, kCommonName, -1, -1, 0) ||
        !X509_set_issuer_name(x509, name))
        return nullptr;
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, x509, x509, nullptr, nullptr, 0);
    const std::pair<int, const char *> extensions[] = {
        {NID_basic_constraints, "critical,CA:FALSE"},
        {NID_key_usage, "critical,digitalSignature"},
        {NID_ext_key_usage, "serverAuth"},
        {NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost"},
    };
    for (const auto &[nid, value] : extensions) {
        const OpenSslPtr<X509_EXTENSION> extension(X509V3_EXT_conf_nid(nullptr, &v3, nid, value));
        if (!extension || !X509_add_ext(x509, extension.get(), -1))
            return nullptr;
    }
    if (X509_sign(x509, key, EVP_sha256()) <= 0)
        return nullptr;
    return certificate;
}

// The server speaks HTTP/1.1 only: a client that offers h2 as well gets http/1.1, one that offers
// neither gets no ALPN answer and may go on.
int selectHttp11(SSL *, const unsigned char **out, unsigned char *outLength, const unsigned char *offered,
                 unsigned int offeredLength, void *)
{
    static const unsigned char kSupported[] = "\x08http/1.1";
    unsigned char *selected = nullptr;
    if (SSL_select_next_proto(&selected, outLength, kSupported, sizeof kSupported - 1, offered, offeredLength) !=
        OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *out = selected;
    return SSL_TLSEXT_ERR_OK;
}

} // namespace

QString takeOpenSslError(const QString &fallback)
{
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return code != 0 ? QString::fromLatin1(text) : fallback;
}

std::unique_ptr<TlsServerContext> TlsServerContext::create(QString *error)
{
    ERR_clear_error();
    const OpenSslPtr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    const OpenSslPtr<X509> certificate = key ? selfSigned(key.get()) : nullptr;
    OpenSslPtr<SSL_CTX> context(certificate ? SSL_CTX_new(TLS_server_method()) : nullptr);
    if (!context || !SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) ||
        SSL_CTX_use_certificate(context.get(), certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1 || SSL_CTX_check_private_key(context.get()) != 1) {
        *error = QStringLiteral("cannot make the TLS certificate: %1").arg(takeOpenSslError());
        return nullptr;
    }
    SSL_CTX_set_alpn_select_cb(context.get(), selectHttp11, nullptr);
    // The server then never has to read before it can write, which its sockets rely on.
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION);
    return std::unique_ptr<TlsServerContext>(new TlsServerContext(std::move(context)));
}

OpenSslPtr<SSL> TlsServerContext::newSession() const
{
    OpenSslPtr<SSL> session(SSL_new(m_context.get()));
    BIO *incoming = BIO_new(BIO_s_mem());
    BIO *outgoing = BIO_new(BIO_s_mem());
    if (!session || !incoming || !outgoing) {
        BIO_free(incoming);
        BIO_free(outgoing);
        ERR_clear_error();
        return nullptr;
    }
    // An empty BIO means "more is coming", not the end of the stream.
    BIO_set_mem_eof_return(incoming, -1);
    BIO_set_mem_eof_return(outgoing, -1);
    SSL_set_bio(session.get(), incoming, outgoing); // the session owns both from here
    SSL_set_accept_state(session.get());
    return session;
}

} // namespace ORVIK
