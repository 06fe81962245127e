#include "host/base/orvikstring.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

namespace ORVIK {

namespace {

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string checkedBytes(const char *data, std::size_t length)
{
    if (length > UINT32_MAX)
        throw std::length_error("ORVIK::String longer than 4 GiB");
    return std::string(data ? data : "", data ? length : 0);
}

} // namespace

String::String(const char *text) : m_bytes(checkedBytes(text, text ? std::char_traits<char>::length(text) : 0))
{}

String::String(const char *data, uint32_t length) : m_bytes(checkedBytes(data, length))
{}

String::String(StringView view) : m_bytes(checkedBytes(view.data(), view.length()))
{}

String::String(const std::string &text) : m_bytes(checkedBytes(text.data(), text.size()))
{}

uint64_t String::hash() const noexcept
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : m_bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

String String::toLower() const
{
    String lower(*this);
    std::transform(lower.m_bytes.begin(), lower.m_bytes.end(), lower.m_bytes.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

String &String::trimWhiteSpace()
{
    const auto first = std::find_if_not(m_bytes.begin(), m_bytes.end(), isWhiteSpace);
    const auto last = std::find_if_not(m_bytes.rbegin(), std::string::reverse_iterator(first), isWhiteSpace).base();
    m_bytes = std::string(first, last);
    return *this;
}

String &String::operator+=(StringView tail)
{
    if (static_cast<uint64_t>(m_bytes.size()) + tail.length() > UINT32_MAX)
        throw std::length_error("ORVIK::String longer than 4 GiB");
    m_bytes.append(tail.data(), tail.length());
    return *this;
}

bool String::operator<(const String &other) const noexcept
{
    // std::string compares through char_traits<char>, which orders as unsigned char.
    return m_bytes < other.m_bytes;
}

std::ostream &operator<<(std::ostream &out, const String &text)
{
    return out.write(text.data(), text.length());
}

} // namespace ORVIK
