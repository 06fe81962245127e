#include "host/base/stringstream.h"

namespace ORVIK {

String StringStream<TranslatedString>::toString(const TranslatedString &text)
{
    return text.translation();
}

TranslatedString StringStream<String>::toDisplayString(const String &text)
{
    return TranslatedString(UUID(), text);
}

PasswordString StringStream<PasswordString>::fromString(const StringView &encoded)
{
    return PasswordString::FromEncoded(encoded);
}

} // namespace ORVIK
