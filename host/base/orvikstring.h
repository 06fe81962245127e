#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/stringview.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace ORVIK {

// Owned 8-bit text with a 32-bit length, always NUL-terminated.
class ORVIKBASE_EXPORT String
{
public:
    String() = default;
    String(const char *text);
    String(const char *data, uint32_t length);
    explicit String(StringView view);
    explicit String(const std::string &text);

    const char *data() const noexcept { return m_bytes.c_str(); }
    char *data() noexcept { return m_bytes.data(); }
    uint32_t length() const noexcept { return static_cast<uint32_t>(m_bytes.size()); }
    bool isEmpty() const noexcept { return m_bytes.empty(); }
    char operator[](uint32_t index) const noexcept { return m_bytes[index]; }
    operator StringView() const noexcept { return StringView(data(), length()); }
    const std::string &toStdString() const noexcept { return m_bytes; }

    // 64-bit FNV-1a over the bytes; stable across runs and platforms.
    uint64_t hash() const noexcept;
    // ASCII lower-casing; bytes above 0x7F are left as they are.
    String toLower() const;
    // Removes ASCII white space from both ends, in place.
    String &trimWhiteSpace();

    String &operator+=(StringView tail);
    friend String operator+(String head, StringView tail) { return head += tail; }

    bool operator==(const String &other) const noexcept { return m_bytes == other.m_bytes; }
    bool operator!=(const String &other) const noexcept { return m_bytes != other.m_bytes; }
    // Byte-wise, as unsigned bytes: a strict weak order.
    bool operator<(const String &other) const noexcept;

private:
    std::string m_bytes;
};

ORVIKBASE_EXPORT std::ostream &operator<<(std::ostream &out, const String &text);

struct StringHash
{
    std::size_t operator()(const String &text) const noexcept { return static_cast<std::size_t>(text.hash()); }
};

} // namespace ORVIK

template <>
struct std::hash<ORVIK::String>
{
    std::size_t operator()(const ORVIK::String &text) const noexcept { return ORVIK::StringHash()(text); }
};
