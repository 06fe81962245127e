#include "apps/orvik/ntp/ntskeyexchange.h"

#include "apps/orvik/ntp/ntsaead.h"
#include "apps/orvik/ntp/ntstruststore.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace ORVIK {

namespace {

constexpr char kAlpn[] = "ntske/1";
constexpr char kExporterLabel[] = "EXPORTER-network-time-security";

struct ContextFree
{
    void operator()(SSL_CTX *context) const { SSL_CTX_free(context); }
};
struct SslFree
{
    void operator()(SSL *ssl) const { SSL_free(ssl); }
};

// OpenSSL's first queued error as text, and the queue emptied.
QString openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("the connection ended");
    const char *reason = ERR_reason_error_string(code);
    return reason ? QString::fromLatin1(reason) : QStringLiteral("OpenSSL error %1").arg(code, 0, 16);
}

// The key for one direction: the exporter's context is the next protocol (NTPv4), the AEAD algorithm,
// and 0 for client to server or 1 for server to client.
QByteArray exportedKey(SSL *ssl, uint8_t direction)
{
    const unsigned char context[] = {0x00, 0x00, 0x00, NtsKeRecords::kAesSivCmac256, direction};
    QByteArray key(NtsAead::kKeySize, '\0');
    if (SSL_export_keying_material(ssl, reinterpret_cast<unsigned char *>(key.data()), std::size_t(key.size()),
                                   kExporterLabel, sizeof kExporterLabel - 1, context, sizeof context, 1) != 1)
        return {};
    return key;
}

// One exchange: TLS through memory buffers that the socket fills and drains, driven by its signals.
class Exchange
{
public:
    Exchange(const QString &hostName, const QString &caFile) : m_hostName(hostName), m_caFile(caFile) {}

    NtsKeyExchange::Result run(const QHostAddress &address, uint16_t port, int timeoutMs)
    {
        if (!setUp())
            return std::move(m_result);
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &m_loop,
                         [this, timeoutMs] { fail(QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000.0)); });
        QObject::connect(&m_socket, &QTcpSocket::connected, &m_loop, [this] { step(); });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_loop, [this] { step(); });
        QObject::connect(&m_socket, &QTcpSocket::errorOccurred, &m_loop, [this](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::RemoteHostClosedError && m_socket.bytesAvailable() > 0)
                step();
            if (m_over)
                return;
            fail(error == QAbstractSocket::RemoteHostClosedError
                     ? QStringLiteral("the server closed the connection before the key exchange was complete")
                     : m_socket.errorString());
        });
        timeout.start(timeoutMs);
        m_socket.connectToHost(address, port);
        if (!m_over)
            m_loop.exec();
        m_socket.abort();
        return std::move(m_result);
    }

private:
    bool setUp()
    {
        m_context.reset(SSL_CTX_new(TLS_client_method()));
        if (!m_context)
            return fail(openSslError());
        // TLS 1.3 only: the keys come from its exporter, and older versions are not allowed for NTS.
        SSL_CTX_set_min_proto_version(m_context.get(), TLS1_3_VERSION);
        SSL_CTX_set_max_proto_version(m_context.get(), TLS1_3_VERSION);
        SSL_CTX_set_verify(m_context.get(), SSL_VERIFY_PEER, nullptr);
        QString error;
        if (!NtsTrustStore::configure(m_context.get(), m_caFile, &error))
            return fail(error);
        m_ssl.reset(SSL_new(m_context.get()));
        if (!m_ssl)
            return fail(openSslError());
        const QByteArray host = m_hostName.toUtf8();
        // The certificate must name the host as it was given: a name, or an address.
        if (SSL_set1_host(m_ssl.get(), host.constData()) != 1)
            return fail(QStringLiteral("cannot check a certificate against this host name"));
        if (QHostAddress(m_hostName).isNull())
            SSL_set_tlsext_host_name(m_ssl.get(), host.constData());
        const unsigned char alpn[] = {sizeof kAlpn - 1, 'n', 't', 's', 'k', 'e', '/', '1'};
        if (SSL_set_alpn_protos(m_ssl.get(), alpn, sizeof alpn) != 0)
            return fail(openSslError());
        BIO *in = BIO_new(BIO_s_mem());
        BIO *out = BIO_new(BIO_s_mem());
        if (!in || !out) {
            BIO_free(in);
            BIO_free(out);
            return fail(openSslError());
        }
        SSL_set_bio(m_ssl.get(), in, out); // the SSL object owns both from here
        m_in = in;
        m_out = out;
        SSL_set_connect_state(m_ssl.get());
        return true;
    }

    bool fail(const QString &why)
    {
        if (!m_over) {
            m_over = true;
            m_result.ok = false;
            m_result.error = why;
            m_loop.quit();
        }
        return false;
    }

    void succeed()
    {
        m_over = true;
        m_result.ok = true;
        m_loop.quit();
    }

    // Hands what the socket received to TLS, moves TLS on, and sends what it wrote.
    void step()
    {
        if (m_over)
            return;
        const QByteArray received = m_socket.readAll();
        if (!received.isEmpty())
            BIO_write(m_in, received.constData(), int(received.size()));
        advance();
        char buffer[4096];
        int pending = 0;
        while ((pending = BIO_read(m_out, buffer, sizeof buffer)) > 0)
            m_socket.write(buffer, pending);
    }

    void advance()
    {
        if (!m_handshakeDone) {
            const int done = SSL_do_handshake(m_ssl.get());
            if (done != 1) {
                if (SSL_get_error(m_ssl.get(), done) == SSL_ERROR_WANT_READ)
                    return;
                const long verify = SSL_get_verify_result(m_ssl.get());
                if (verify != X509_V_OK)
                    fail(QStringLiteral("the server's certificate is not trusted: %1")
                             .arg(QString::fromLatin1(X509_verify_cert_error_string(verify))));
                else
                    fail(QStringLiteral("TLS handshake failed: %1").arg(openSslError()));
                return;
            }
            m_handshakeDone = true;
            if (!checkSession())
                return;
            const QByteArray request = NtsKeRecords::request();
            if (SSL_write(m_ssl.get(), request.constData(), int(request.size())) != int(request.size())) {
                fail(QStringLiteral("cannot send the request: %1").arg(openSslError()));
                return;
            }
        }
        char buffer[4096];
        for (;;) {
            const int read = SSL_read(m_ssl.get(), buffer, sizeof buffer);
            if (read <= 0) {
                const int error = SSL_get_error(m_ssl.get(), read);
                if (error == SSL_ERROR_WANT_READ)
                    return;
                fail(error == SSL_ERROR_ZERO_RETURN ? QStringLiteral("the server closed before its answer was complete")
                                                    : QStringLiteral("reading its answer: %1").arg(openSslError()));
                return;
            }
            m_answer.append(buffer, read);
            const NtsKeRecords::Parsed parsed = NtsKeRecords::parse(m_answer);
            switch (parsed.status) {
            case NtsKeRecords::Parsed::Status::Incomplete:
                if (m_answer.size() > NtsKeRecords::kMaximumAnswerSize) {
                    fail(QStringLiteral("its answer is longer than %1 bytes").arg(NtsKeRecords::kMaximumAnswerSize));
                    return;
                }
                continue;
            case NtsKeRecords::Parsed::Status::Refused:
                fail(QStringLiteral("the server's answer is refused: %1").arg(parsed.reason));
                return;
            case NtsKeRecords::Parsed::Status::Complete:
                m_result.session.cookies = parsed.answer.cookies;
                m_result.session.server = parsed.answer.server;
                m_result.session.port = parsed.answer.port.value_or(NtsKeyExchange::kDefaultNtpPort);
                succeed();
                return;
            }
        }
    }

    // What the handshake settled must be what NTS needs before anything is sent.
    bool checkSession()
    {
        if (SSL_version(m_ssl.get()) != TLS1_3_VERSION)
            return fail(QStringLiteral("the server did not agree to TLS 1.3"));
        const unsigned char *protocol = nullptr;
        unsigned int length = 0;
        SSL_get0_alpn_selected(m_ssl.get(), &protocol, &length);
        if (QByteArray(reinterpret_cast<const char *>(protocol), int(length)) != QByteArray(kAlpn))
            return fail(QStringLiteral("the server does not agree to the protocol ntske/1 (ALPN)"));
        m_result.session.c2sKey = exportedKey(m_ssl.get(), 0);
        m_result.session.s2cKey = exportedKey(m_ssl.get(), 1);
        if (m_result.session.c2sKey.isEmpty() || m_result.session.s2cKey.isEmpty())
            return fail(QStringLiteral("cannot export the keys: %1").arg(openSslError()));
        return true;
    }

    QString m_hostName;
    QString m_caFile;
    QEventLoop m_loop;
    QTcpSocket m_socket;
    std::unique_ptr<SSL_CTX, ContextFree> m_context;
    std::unique_ptr<SSL, SslFree> m_ssl;
    BIO *m_in = nullptr;  // owned by m_ssl
    BIO *m_out = nullptr; // owned by m_ssl
    bool m_handshakeDone = false;
    bool m_over = false;
    QByteArray m_answer;
    NtsKeyExchange::Result m_result;
};

} // namespace

NtsKeyExchange::Result NtsKeyExchange::run(const QString &hostName, const QHostAddress &address, uint16_t port,
                                           const QString &caFile, int timeoutMs)
{
    ERR_clear_error();
    Exchange exchange(hostName, caFile);
    return exchange.run(address, port, timeoutMs);
}

} // namespace ORVIK
