#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace ORVIK {

// AEAD_AES_SIV_CMAC_256, the one AEAD algorithm that orvik offers in the key exchange, through
// OpenSSL's "AES-128-SIV" (which takes the whole 32-byte key: one half for CMAC, one for CTR). The
// sealed form is the 16-byte synthetic IV followed by the ciphertext, as NTS carries it. Associated
// data is a list of elements, each authenticated on its own; NTS passes its nonce as the last one.
namespace NtsAead {

constexpr int kKeySize = 32;
constexpr int kTagSize = 16;

// Nothing when OpenSSL refuses (a key of the wrong size, a missing algorithm).
std::optional<QByteArray> seal(const QByteArray &key, const QList<QByteArray> &associatedData,
                               const QByteArray &plaintext);
// Nothing when the sealed bytes do not authenticate under the key and the associated data.
std::optional<QByteArray> open(const QByteArray &key, const QList<QByteArray> &associatedData,
                               const QByteArray &sealed);

} // namespace NtsAead

} // namespace ORVIK
