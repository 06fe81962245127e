#include "host/widgets/update/updatesignature.h"

#include <QList>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace ORVIK {

namespace {

struct KeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
struct NumberContextFree
{
    void operator()(BN_CTX *context) const { BN_CTX_free(context); }
};
struct ContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    ERR_clear_error();
}

Key readPem(const QByteArray &pem, bool privateKey)
{
    const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    if (!bio)
        return Key();
    return Key(privateKey ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                          : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
}

QByteArray rawPublicKey(EVP_PKEY *key)
{
    QByteArray raw(UpdateSignature::kKeySize, '\0');
    size_t length = static_cast<size_t>(raw.size());
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char *>(raw.data()), &length) != 1 ||
        length != static_cast<size_t>(UpdateSignature::kKeySize))
        return QByteArray();
    return raw;
}

bool isEd25519(EVP_PKEY *key)
{
    return key && EVP_PKEY_get_id(key) == EVP_PKEY_ED25519;
}

} // namespace

const QList<QByteArray> &UpdateSignature::SmallOrderEncodings()
{
    // y as 32 little-endian bytes. Canonical: 0 (the two points of order 4), 1 (the identity),
    // p - 1 (the point of order 2), and the two y of the four points of order 8. Not canonical
    // (y >= p, which a lax decoder reduces): p (= 0) and p + 1 (= 1). p - 1 + p and the order-8 y
    // plus p do not fit in 255 bits.
    static const QList<QByteArray> encodings{
        QByteArray(32, '\0'),
        QByteArray::fromHex("0100000000000000000000000000000000000000000000000000000000000000"),
        QByteArray::fromHex("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"),
        QByteArray::fromHex("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"),
        QByteArray::fromHex("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
        QByteArray::fromHex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
        QByteArray::fromHex("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
    };
    return encodings;
}

bool UpdateSignature::IsSmallOrderKey(const QByteArray &key)
{
    if (key.size() != kKeySize)
        return false;
    QByteArray y = key;
    y[kKeySize - 1] = char(y[kKeySize - 1] & 0x7f); // the sign of x
    return SmallOrderEncodings().contains(y);
}

QByteArray UpdateSignature::Usable(const QByteArray &key, QString *error)
{
    if (key.isEmpty())
        return key;
    if (IsSmallOrderKey(key)) {
        setError(error, QStringLiteral("the key is a small-order point, with which one fixed signature verifies "
                                       "every text; it cannot be pinned"));
        return QByteArray();
    }
    if (!IsCurvePoint(key)) {
        setError(error, QStringLiteral("the 32 bytes are not a point of the Ed25519 curve, so no signature could "
                                       "verify with them: the key was mistyped or damaged"));
        return QByteArray();
    }
    return key;
}

QByteArray UpdateSignature::ParsePublicKey(const QByteArray &text, QString *error)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kKeySize) {
        setError(error, QStringLiteral("a key is the base64 of 32 bytes (a key file is given with --public-key-file)"));
        return QByteArray();
    }
    return Usable(decoded.decoded, error);
}

QByteArray UpdateSignature::ParsePublicKeyFile(const QByteArray &text, QString *error)
{
    const QByteArray trimmed = text.trimmed();
    if (trimmed.contains("-----BEGIN")) {
        if (trimmed.count("-----BEGIN") > 1) {
            setError(error, QStringLiteral("the file holds more than one key; it must hold exactly one"));
            return QByteArray();
        }
        const Key key = readPem(trimmed, false);
        if (!isEd25519(key.get())) {
            setError(error, key ? QStringLiteral("the PEM key is not an Ed25519 key")
                                : QStringLiteral("the PEM text is not a public key"));
            return QByteArray();
        }
        ERR_clear_error();
        return Usable(rawPublicKey(key.get()), error);
    }
    if (trimmed.split('\n').size() > 1 || trimmed.contains(' ') || trimmed.contains('\t')) {
        setError(error, QStringLiteral("the file holds more than one line; it must hold exactly one key"));
        return QByteArray();
    }
    const auto decoded = QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kKeySize) {
        setError(error, QStringLiteral("a key file holds a PEM public key or the base64 of 32 bytes"));
        return QByteArray();
    }
    return Usable(decoded.decoded, error);
}

bool UpdateSignature::IsCurvePoint(const QByteArray &key)
{
    if (key.size() != kKeySize)
        return false;
    const bool negative = (static_cast<unsigned char>(key[kKeySize - 1]) & 0x80) != 0;
    QByteArray bigEndian(kKeySize, '\0');
    for (int i = 0; i < kKeySize; ++i)
        bigEndian[i] = key[kKeySize - 1 - i];
    bigEndian[0] = char(bigEndian[0] & 0x7f);

    const std::unique_ptr<BN_CTX, NumberContextFree> context(BN_CTX_new());
    if (!context)
        return false;
    BN_CTX_start(context.get());
    BIGNUM *p = BN_CTX_get(context.get());
    BIGNUM *d = BN_CTX_get(context.get());
    BIGNUM *y = BN_CTX_get(context.get());
    BIGNUM *y2 = BN_CTX_get(context.get());
    BIGNUM *u = BN_CTX_get(context.get());
    BIGNUM *v = BN_CTX_get(context.get());
    BIGNUM *x2 = BN_CTX_get(context.get());
    BIGNUM *scratch = BN_CTX_get(context.get());
    // p = 2^255 - 19; d = -121665 / 121666 (mod p).
    bool point = scratch && BN_set_bit(p, 255) && BN_sub_word(p, 19) && BN_set_word(scratch, 121666) &&
                 BN_mod_inverse(d, scratch, p, context.get()) && BN_mul_word(d, 121665) &&
                 BN_mod_sub(d, p, d, p, context.get()) &&
                 BN_bin2bn(reinterpret_cast<const unsigned char *>(bigEndian.constData()), kKeySize, y);
    // A y of p or more is not a canonical encoding.
    point = point && BN_cmp(y, p) < 0 && BN_mod_sqr(y2, y, p, context.get()) && BN_copy(u, y2) && BN_sub_word(u, 1) &&
            BN_mod_mul(v, d, y2, p, context.get()) && BN_add_word(v, 1) && BN_nnmod(u, u, p, context.get()) &&
            BN_nnmod(v, v, p, context.get()) && !BN_is_zero(v) && BN_mod_inverse(scratch, v, p, context.get()) &&
            BN_mod_mul(x2, u, scratch, p, context.get());
    if (point) {
        if (BN_is_zero(x2))
            point = !negative; // x = 0 has no negative
        else
            point = BN_kronecker(x2, p, context.get()) == 1; // x^2 has a root
    }
    BN_CTX_end(context.get());
    ERR_clear_error();
    return point;
}

QByteArray UpdateSignature::GeneratePrivateKey()
{
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    const std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!key || !bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        ERR_clear_error();
        return QByteArray();
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

QByteArray UpdateSignature::PublicKeyOf(const QByteArray &privateKeyPem, QString *error)
{
    const Key key = readPem(privateKeyPem, true);
    if (!isEd25519(key.get())) {
        setError(error, QStringLiteral("not an Ed25519 private key in PEM form"));
        return QByteArray();
    }
    return rawPublicKey(key.get());
}

QByteArray UpdateSignature::Sign(const QByteArray &privateKeyPem, const QByteArray &message, QString *error)
{
    const Key key = readPem(privateKeyPem, true);
    if (!isEd25519(key.get())) {
        setError(error, QStringLiteral("not an Ed25519 private key in PEM form"));
        return QByteArray();
    }
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    QByteArray signature(kSignatureSize, '\0');
    size_t length = static_cast<size_t>(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(message.constData()),
                       static_cast<size_t>(message.size())) != 1 ||
        length != static_cast<size_t>(kSignatureSize)) {
        setError(error, QStringLiteral("signing failed"));
        return QByteArray();
    }
    return signature;
}

bool UpdateSignature::Verify(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    if (publicKey.size() != kKeySize || signature.size() != kSignatureSize || IsSmallOrderKey(publicKey) ||
        !IsCurvePoint(publicKey))
        return false;
    const Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                              reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                              static_cast<size_t>(publicKey.size())));
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    const bool valid = key && context &&
                       EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
                       EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                                        static_cast<size_t>(signature.size()),
                                        reinterpret_cast<const unsigned char *>(message.constData()),
                                        static_cast<size_t>(message.size())) == 1;
    ERR_clear_error();
    return valid;
}

QByteArray UpdateSignature::SignDescription(const QByteArray &privateKeyPem, const QByteArray &description,
                                            const QByteArray &lineEnd, QString *error)
{
    const QByteArray body = description.isEmpty() || description.endsWith('\n') ? description : description + lineEnd;
    const QByteArray signature = Sign(privateKeyPem, body, error);
    if (signature.isEmpty())
        return QByteArray();
    return body + "signature=" + signature.toBase64() + lineEnd;
}

QByteArray UpdateSignature::SignatureValue(const QByteArray &line)
{
    const qsizetype equals = line.indexOf('=');
    if (equals < 0 || line.left(equals).trimmed().toLower() != "signature")
        return QByteArray();
    QByteArray value = line.mid(equals + 1).trimmed();
    if (value.isNull())
        value = QByteArray("");
    return value;
}

qsizetype UpdateSignature::SignatureLineStart(const QByteArray &description)
{
    qsizetype end = description.size();
    if (end > 0 && description[end - 1] == '\n')
        --end;
    const qsizetype start = description.lastIndexOf('\n', end - 1) + 1;
    return SignatureValue(description.mid(start, end - start)).isNull() ? -1 : start;
}

bool UpdateSignature::HasSignatureLine(const QByteArray &description)
{
    for (const QByteArray &line : description.split('\n'))
        if (!SignatureValue(line).isNull())
            return true;
    return false;
}

QString UpdateSignature::CheckDescription(const QByteArray &publicKey, const QByteArray &description)
{
    if (IsSmallOrderKey(publicKey))
        return QStringLiteral("the pinned key is a small-order point, which verifies anything");
    const qsizetype start = SignatureLineStart(description);
    if (start < 0)
        return HasSignatureLine(description) ? QStringLiteral("the signature line is not the description's last line")
                                             : QStringLiteral("the description is not signed");
    const QByteArray value = SignatureValue(description.mid(start));
    const auto signature = QByteArray::fromBase64Encoding(value, QByteArray::AbortOnBase64DecodingErrors);
    if (!signature || signature.decoded.size() != kSignatureSize)
        return QStringLiteral("the signature is malformed (not the base64 of 64 bytes)");
    if (!Verify(publicKey, description.left(start), signature.decoded))
        return QStringLiteral("the signature does not match: the description was changed or signed by another key");
    return QString();
}

} // namespace ORVIK
