#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"

namespace ORVIK {

// A password kept in the host's encoded form (base64 of its bytes), so that it is
// never stored or passed around as plain text by accident.
class ORVIKBASE_EXPORT PasswordString
{
public:
    PasswordString() = default;

    static PasswordString Encode(const StringView &plain);
    // Adopts text that is already in the encoded form.
    static PasswordString FromEncoded(const StringView &encoded);

    String decode() const;
    const String &encoded() const noexcept { return m_encoded; }
    bool isEmpty() const noexcept { return m_encoded.isEmpty(); }

    bool operator==(const PasswordString &other) const noexcept { return m_encoded == other.m_encoded; }
    bool operator!=(const PasswordString &other) const noexcept { return m_encoded != other.m_encoded; }

private:
    String m_encoded;
};

} // namespace ORVIK
