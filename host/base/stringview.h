#pragma once

#include <cstdint>
#include <string>

namespace ORVIK {

// A non-owning view of 8-bit text. It never owns or terminates what it views.
class StringView
{
public:
    constexpr StringView() noexcept = default;
    constexpr StringView(const char *text) noexcept
        : m_data(text), m_length(text ? static_cast<uint32_t>(std::char_traits<char>::length(text)) : 0)
    {}
    constexpr StringView(const char *data, uint32_t length) noexcept : m_data(data), m_length(length) {}

    constexpr const char *data() const noexcept { return m_data; }
    constexpr uint32_t length() const noexcept { return m_length; }
    constexpr bool isEmpty() const noexcept { return m_length == 0; }
    constexpr char operator[](uint32_t index) const noexcept { return m_data[index]; }

    bool operator==(StringView other) const noexcept
    {
        return m_length == other.m_length && std::char_traits<char>::compare(m_data, other.m_data, m_length) == 0;
    }
    bool operator!=(StringView other) const noexcept { return !(*this == other); }

    std::string toStdString() const { return std::string(m_data ? m_data : "", m_length); }

private:
    const char *m_data = "";
    uint32_t m_length = 0;
};

} // namespace ORVIK
