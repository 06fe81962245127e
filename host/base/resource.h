#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"

#include <utility>

namespace ORVIK {

// A settable value that the host can inspect and override.
class ORVIKBASE_EXPORT ResourceBase
{
public:
    virtual ~ResourceBase();
};

template <typename T>
class Resource : public ResourceBase
{
public:
    Resource() = default;
    explicit Resource(T value) : m_value(std::move(value)) {}

    const T &value() const noexcept { return m_value; }
    void setValue(T value) { m_value = std::move(value); }
    Resource &operator=(T value)
    {
        m_value = std::move(value);
        return *this;
    }

private:
    T m_value{};
};

} // namespace ORVIK
