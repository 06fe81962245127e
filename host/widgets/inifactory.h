#pragma once

#include "host/base/orvikstring.h"
#include "host/widgets/orvikwidgets_export.h"

#include <vector>

namespace ORVIK {

// A parsed description of key=value lines, in the order they were written.
// Keys are compared without regard to ASCII case and stored in lower case.
class ORVIKWIDGETS_EXPORT INIFactory
{
public:
    struct Entry
    {
        String key;
        String value;
    };

    // Blank lines and lines starting with '#' are skipped; CRLF and a UTF-8 byte-order mark are accepted.
    // Keys and values are trimmed. A line without '=', an empty key or a repeated key makes the whole
    // text malformed: the result is then empty and error (when given) says which line and why.
    static INIFactory Parse(const StringView &text, String *error = nullptr);

    bool isEmpty() const noexcept { return m_entries.empty(); }
    const std::vector<Entry> &entries() const noexcept { return m_entries; }
    bool contains(const StringView &key) const;
    // The value of the key, or an empty text when it is absent.
    String value(const StringView &key) const;
    // Replaces the key's value, or appends the key.
    void setValue(const StringView &key, const StringView &value);
    // key=value lines ending in "\n", which Parse reads back to the same entries.
    String toText() const;

private:
    const Entry *find(const String &lowerKey) const;

    std::vector<Entry> m_entries;
};

} // namespace ORVIK
