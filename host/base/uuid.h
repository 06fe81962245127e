#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"

#include <array>
#include <cstdint>

namespace ORVIK {

// A 128-bit identifier; all zero when default-constructed.
class ORVIKBASE_EXPORT UUID
{
public:
    using Bytes = std::array<uint8_t, 16>;

    UUID() = default;
    explicit UUID(const Bytes &bytes) : m_bytes(bytes) {}

    const Bytes &bytes() const noexcept { return m_bytes; }
    bool isNull() const noexcept;
    // Canonical 8-4-4-4-12 lower-case hexadecimal form.
    String toString() const;

    bool operator==(const UUID &other) const noexcept { return m_bytes == other.m_bytes; }
    bool operator!=(const UUID &other) const noexcept { return m_bytes != other.m_bytes; }
    bool operator<(const UUID &other) const noexcept { return m_bytes < other.m_bytes; }

private:
    Bytes m_bytes{};
};

} // namespace ORVIK
