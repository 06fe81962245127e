#pragma once

#include "host/base/orvikbase_export.h"
#include "host/base/orvikstring.h"

namespace ORVIK {

// A path to a file of the host; an empty path names no file.
class ORVIKBASE_EXPORT File
{
public:
    File() = default;
    explicit File(const StringView &path) : m_path(path) {}

    const String &path() const noexcept { return m_path; }
    operator StringView() const noexcept { return m_path; }

    bool exists() const;
    // Throws Exception naming the path when it is not an existing regular file.
    void throwIfNotExist() const;

private:
    String m_path;
};

} // namespace ORVIK
