#include "apps/orvik/ntp/ntsaead.h"

#include <openssl/evp.h>

#include <memory>

namespace ORVIK::NtsAead {

namespace {

struct CipherContextFree
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
struct CipherFree
{
    void operator()(EVP_CIPHER *cipher) const { EVP_CIPHER_free(cipher); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

// A context keyed for one direction with every associated-data element added, each by its own update
// without an output buffer: SIV authenticates them as separate strings, not as their concatenation.
CipherContext prepared(const QByteArray &key, const QList<QByteArray> &associatedData, bool encrypt,
                       const QByteArray &tag)
{
    if (key.size() != kKeySize)
        return {};
    const std::unique_ptr<EVP_CIPHER, CipherFree> cipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr));
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!cipher || !context ||
        EVP_CipherInit_ex(context.get(), cipher.get(), nullptr, bytes(key), nullptr, encrypt) != 1)
        return {};
    if (!encrypt &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kTagSize, const_cast<char *>(tag.constData())) != 1)
        return {};
    for (const QByteArray &element : associatedData) {
        int ignored = 0;
        if (EVP_CipherUpdate(context.get(), nullptr, &ignored, bytes(element), int(element.size())) != 1)
            return {};
    }
    return context;
}

} // namespace

std::optional<QByteArray> seal(const QByteArray &key, const QList<QByteArray> &associatedData,
                               const QByteArray &plaintext)
{
    const CipherContext context = prepared(key, associatedData, true, {});
    if (!context)
        return std::nullopt;
    QByteArray sealed(kTagSize + plaintext.size(), '\0');
    auto *out = reinterpret_cast<unsigned char *>(sealed.data()) + kTagSize;
    int written = 0;
    // SIV takes the whole plaintext in one update, an empty one included: that is where it computes the IV.
    if (EVP_CipherUpdate(context.get(), out, &written, bytes(plaintext), int(plaintext.size())) != 1 ||
        written != plaintext.size())
        return std::nullopt;
    int last = 0;
    if (EVP_CipherFinal_ex(context.get(), out + written, &last) != 1 || last != 0)
        return std::nullopt;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kTagSize, sealed.data()) != 1)
        return std::nullopt;
    return sealed;
}

std::optional<QByteArray> open(const QByteArray &key, const QList<QByteArray> &associatedData, const QByteArray &sealed)
{
    if (sealed.size() < kTagSize)
        return std::nullopt;
    const CipherContext context = prepared(key, associatedData, false, sealed.left(kTagSize));
    if (!context)
        return std::nullopt;
    const QByteArray ciphertext = sealed.mid(kTagSize);
    QByteArray plaintext(ciphertext.size(), '\0');
    auto *out = reinterpret_cast<unsigned char *>(plaintext.data());
    int written = 0;
    // The update checks the IV against what it decrypted; it fails when the two differ.
    if (EVP_CipherUpdate(context.get(), out, &written, bytes(ciphertext), int(ciphertext.size())) != 1 ||
        written != ciphertext.size())
        return std::nullopt;
    int last = 0;
    if (EVP_CipherFinal_ex(context.get(), out + written, &last) != 1 || last != 0)
        return std::nullopt;
    return plaintext;
}

} // namespace ORVIK::NtsAead
