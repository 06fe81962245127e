#include "host/widgets/update/updateversion.h"

#include <algorithm>
#include <string>
#include <vector>

namespace ORVIK {

namespace {

std::vector<std::string> versionComponents(const StringView &version)
{
    std::vector<std::string> components;
    std::string part;
    for (uint32_t i = 0; i <= version.length(); ++i) {
        if (i == version.length() || version[i] == '.') {
            // Leading zeros do not change a number; dropping them lets length decide size first.
            const std::size_t digit = part.find_first_not_of('0');
            components.push_back(digit == std::string::npos ? std::string() : part.substr(digit));
            part.clear();
        } else {
            part += version[i];
        }
    }
    return components;
}

int compareNumbers(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

} // namespace

bool UpdateVersion::IsValid(const StringView &version)
{
    bool digitSeen = false;
    for (uint32_t i = 0; i < version.length(); ++i) {
        const char c = version[i];
        if (c == '.' && !digitSeen)
            return false;
        if (c != '.' && (c < '0' || c > '9'))
            return false;
        digitSeen = c != '.';
    }
    return digitSeen;
}

int UpdateVersion::Compare(const StringView &a, const StringView &b)
{
    std::vector<std::string> left = versionComponents(a);
    std::vector<std::string> right = versionComponents(b);
    const std::size_t count = std::max(left.size(), right.size());
    left.resize(count);
    right.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (const int order = compareNumbers(left[i], right[i]))
            return order;
    return 0;
}

} // namespace ORVIK
