#include "host/base/file.h"

#include "host/base/exception.h"

#include <QFileInfo>
#include <QString>

namespace ORVIK {

bool File::exists() const
{
    if (m_path.isEmpty())
        return false;
    const QFileInfo info(QString::fromUtf8(m_path.data(), m_path.length()));
    return info.exists() && !info.isDir();
}

void File::throwIfNotExist() const
{
    if (!exists())
        throw Exception(String("File does not exist: ") + m_path);
}

} // namespace ORVIK
