#pragma once

#include "host/base/stringview.h"

namespace ORVIK {

// The text that the host receives for a Qt network error code (QNetworkReply::NetworkError).
// Each text is a constant that lives for the whole process; codes without one give an empty text.
StringView networkErrorText(int code) noexcept;

} // namespace ORVIK
