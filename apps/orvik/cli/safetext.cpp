#include "apps/orvik/cli/safetext.h"

namespace ORVIK::SafeText {

QString address(const QUrl &url)
{
    return printable(url.toDisplayString(QUrl::RemovePassword));
}

QString printable(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        const char16_t u = c.unicode();
        if (c.category() == QChar::Other_Control || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char('?');
    }
    return result;
}

} // namespace ORVIK::SafeText
