#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace ORVIK {

// Ed25519 keys and signatures of update descriptions. A signed description ends in a line
// "signature=BASE64" whose signature covers every byte before that line.
class ORVIKWIDGETS_EXPORT UpdateSignature
{
public:
    static constexpr int kKeySize = 32;
    static constexpr int kSignatureSize = 64;

    // The raw 32-byte key of the base64 text of the raw key, exactly what a user typed; empty, with
    // error set, for anything else, a key that is not a usable point included (below).
    static QByteArray ParsePublicKey(const QByteArray &text, QString *error = nullptr);
    // The raw key of a key file's text: one PEM public key (as `openssl pkey -pubout` writes it) or
    // one line of base64 of the raw key. A file with more than one key is refused: which one was
    // meant cannot be known.
    static QByteArray ParsePublicKeyFile(const QByteArray &text, QString *error = nullptr);
    // A fresh private key in PEM form; empty when none could be made.
    static QByteArray GeneratePrivateKey();
    // The raw public key of a PEM private key (as `openssl genpkey -algorithm ed25519` writes it).
    static QByteArray PublicKeyOf(const QByteArray &privateKeyPem, QString *error = nullptr);
    // The 64-byte signature of message by a PEM private key; empty, with error set, on failure.
    static QByteArray Sign(const QByteArray &privateKeyPem, const QByteArray &message, QString *error = nullptr);
    // False also for a small-order key, whatever the signature.
    static bool Verify(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);

    // True when the 32 bytes encode a point of small order (one of the eight, in any of its
    // encodings): with such a key one fixed signature verifies for every text.
    static bool IsSmallOrderKey(const QByteArray &key);
    // True when the 32 bytes are the canonical encoding of a point on the curve: y < p, and
    // x^2 = (y^2 - 1) / (d y^2 + 1) has a root (x = 0 only with the sign bit clear). OpenSSL does not
    // check this for a raw Ed25519 key, so a key that is no point would be pinned and then verify nothing.
    static bool IsCurvePoint(const QByteArray &key);
    // The y coordinates of the small-order points as encoded, sign bit clear; with the sign bit set
    // or clear, these 7 x 2 encodings are every encoding of the eight points.
    static const QList<QByteArray> &SmallOrderEncodings();

    // A description signed: its bytes, then the line "signature=BASE64" ended by lineEnd, whose
    // signature covers every byte before it (a line end is added first when the text lacks one, and
    // is signed with it). Empty, with error set, on failure. CheckDescription is its inverse.
    static QByteArray SignDescription(const QByteArray &privateKeyPem, const QByteArray &description,
                                      const QByteArray &lineEnd = "\n", QString *error = nullptr);
    // The trimmed value of a "signature=" line, or a null array when the line is not one.
    static QByteArray SignatureValue(const QByteArray &line);
    // Why a description does not verify with the key, or an empty text when it does.
    static QString CheckDescription(const QByteArray &publicKey, const QByteArray &description);

private:
    // The key when it can be pinned: not of small order and a point of the curve.
    static QByteArray Usable(const QByteArray &key, QString *error);
    // Where the description's last line starts when that line is a signature line; -1 otherwise.
    // One line end may follow it.
    static qsizetype SignatureLineStart(const QByteArray &description);
    static bool HasSignatureLine(const QByteArray &description);
};

} // namespace ORVIK
