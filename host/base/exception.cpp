#include "host/base/exception.h"

namespace ORVIK {

Exception::Exception(const StringView &message) : m_message(message)
{}

const char *Exception::what() const noexcept
{
    return m_message.data();
}

} // namespace ORVIK
