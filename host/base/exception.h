#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"

#include <exception>

namespace ORVIK {

// The host's error type: a copyable message.
class ORVIKBASE_EXPORT Exception : public std::exception
{
public:
    explicit Exception(const StringView &message);

    const String &message() const noexcept { return m_message; }
    const char *what() const noexcept override;

private:
    String m_message;
};

} // namespace ORVIK
