#include "host/widgets/inifactory.h"

#include <string>

namespace ORVIK {

namespace {

constexpr StringView kByteOrderMark = "\xEF\xBB\xBF";

String lineError(std::size_t number, const std::string &why)
{
    return String("line " + std::to_string(number) + ": " + why);
}

} // namespace

INIFactory INIFactory::Parse(const StringView &text, String *error)
{
    std::string bytes = text.toStdString();
    if (bytes.compare(0, kByteOrderMark.length(), kByteOrderMark.data()) == 0)
        bytes.erase(0, kByteOrderMark.length());

    INIFactory result;
    std::size_t number = 0;
    std::size_t begin = 0;
    while (begin <= bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        if (end == std::string::npos)
            end = bytes.size();
        String line(bytes.substr(begin, end - begin));
        begin = end + 1;
        ++number;

        line.trimWhiteSpace(); // also drops the CR of a CRLF line end
        if (line.isEmpty() || line[0] == '#')
            continue;
        const std::string &raw = line.toStdString();
        const std::size_t equals = raw.find('=');
        const String key =
            equals == std::string::npos ? String() : String(raw.substr(0, equals)).trimWhiteSpace().toLower();
        String why;
        if (equals == std::string::npos)
            why = lineError(number, "expected key=value, got \"" + raw + "\"");
        else if (key.isEmpty())
            why = lineError(number, "the key before '=' is empty");
        else if (result.find(key))
            why = lineError(number, "the key \"" + key.toStdString() + "\" appears twice");
        if (!why.isEmpty()) {
            if (error)
                *error = why;
            return {};
        }
        result.m_entries.push_back({key, String(raw.substr(equals + 1)).trimWhiteSpace()});
    }
    if (error)
        *error = String();
    return result;
}

const INIFactory::Entry *INIFactory::find(const String &lowerKey) const
{
    for (const Entry &entry : m_entries)
        if (entry.key == lowerKey)
            return &entry;
    return nullptr;
}

bool INIFactory::contains(const StringView &key) const
{
    return find(String(key).toLower()) != nullptr;
}

String INIFactory::value(const StringView &key) const
{
    const Entry *entry = find(String(key).toLower());
    return entry ? entry->value : String();
}

void INIFactory::setValue(const StringView &key, const StringView &value)
{
    const String lowerKey = String(key).toLower();
    for (Entry &entry : m_entries)
        if (entry.key == lowerKey) {
            entry.value = String(value);
            return;
        }
    m_entries.push_back({lowerKey, String(value)});
}

String INIFactory::toText() const
{
    String text;
    // Parse drops a byte-order mark at the very start; writing one first keeps a first key that begins with one.
    if (!m_entries.empty() &&
        m_entries.front().key.toStdString().compare(0, kByteOrderMark.length(), kByteOrderMark.data()) == 0)
        text += kByteOrderMark;
    for (const Entry &entry : m_entries)
        text += entry.key + "=" + entry.value + "\n";
    return text;
}

} // namespace ORVIK
