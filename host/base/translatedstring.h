#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"
#include "host/base/uuid.h"

namespace ORVIK {

// A user-visible text: its translation id and the English default.
class ORVIKBASE_EXPORT TranslatedString
{
public:
    TranslatedString() = default;
    TranslatedString(const UUID &id, const StringView &defaultText);

    const UUID &id() const noexcept { return m_id; }
    const String &defaultText() const noexcept { return m_default; }
    // The current language's text, or the English default when there is none.
    String translation() const;
    bool isEmpty() const noexcept { return m_id.isNull() && m_default.isEmpty(); }

    bool operator==(const TranslatedString &other) const noexcept
    {
        return m_id == other.m_id && m_default == other.m_default;
    }
    bool operator!=(const TranslatedString &other) const noexcept { return !(*this == other); }

private:
    UUID m_id;
    String m_default;
};

} // namespace ORVIK
