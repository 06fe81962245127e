#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"
#include "host/base/uuid.h"

#include <optional>

namespace ORVIK {

// Derives translation ids and holds the current language's texts.
class ORVIKBASE_EXPORT Translator
{
public:
    // Name-based (SHA-1, version 5) UUID of the English text itself.
    static UUID DefaultID(const StringView &text);
    // A cheaper id for a lookup key: two independent 64-bit FNV-1a hashes.
    static UUID DefaultFastID(const StringView &key);

    // The current language's texts; an id without one falls back to its English default.
    static void SetTranslation(const UUID &id, const StringView &text);
    static void ClearTranslations();
    static std::optional<String> Translation(const UUID &id);
};

} // namespace ORVIK
