#include "host/base/passwordstring.h"

#include <QByteArray>

namespace ORVIK {

PasswordString PasswordString::Encode(const StringView &plain)
{
    const QByteArray encoded = QByteArray(plain.data(), plain.length()).toBase64();
    return FromEncoded(StringView(encoded.constData(), static_cast<uint32_t>(encoded.size())));
}

PasswordString PasswordString::FromEncoded(const StringView &encoded)
{
    PasswordString password;
    password.m_encoded = String(encoded);
    return password;
}

String PasswordString::decode() const
{
    const QByteArray plain = QByteArray::fromBase64(QByteArray(m_encoded.data(), m_encoded.length()));
    return String(plain.constData(), static_cast<uint32_t>(plain.size()));
}

} // namespace ORVIK
