#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"
#include "host/base/passwordstring.h"
#include "host/base/translatedstring.h"

namespace ORVIK {

// Conversions between host text and other text types; one specialisation per type.
template <typename T>
struct StringStream;

template <>
struct ORVIKBASE_EXPORT StringStream<TranslatedString>
{
    // The current-language text.
    static String toString(const TranslatedString &text);
};

template <>
struct ORVIKBASE_EXPORT StringStream<String>
{
    // A name shown as it is: no translation id, the name as its default text.
    static TranslatedString toDisplayString(const String &text);
};

template <>
struct ORVIKBASE_EXPORT StringStream<PasswordString>
{
    // Adopts text that is already in the password's encoded form.
    static PasswordString fromString(const StringView &encoded);
};

} // namespace ORVIK
