#include "apps/orvik/cli/safetext.h"

namespace ORVIK::SafeText {

QString address(const QUrl &url)
{
    return printable(url.toDisplayString(QUrl::RemovePassword));
}

QString printable(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace ORVIK::SafeText
