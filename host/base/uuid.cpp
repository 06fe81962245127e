#include "host/base/uuid.h"

#include <algorithm>

namespace ORVIK {

bool UUID::isNull() const noexcept
{
    return std::all_of(m_bytes.begin(), m_bytes.end(), [](uint8_t b) { return b == 0; });
}

String UUID::toString() const
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[m_bytes[i] >> 4];
        text += digits[m_bytes[i] & 0x0f];
    }
    return String(text);
}

} // namespace ORVIK
