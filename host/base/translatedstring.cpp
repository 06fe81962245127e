#include "host/base/translatedstring.h"

#include "host/base/translator.h"

namespace ORVIK {

TranslatedString::TranslatedString(const UUID &id, const StringView &defaultText) : m_id(id), m_default(defaultText)
{}

String TranslatedString::translation() const
{
    if (auto text = Translator::Translation(m_id))
        return *text;
    return m_default;
}

} // namespace ORVIK
