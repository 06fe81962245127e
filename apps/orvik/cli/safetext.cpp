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
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t u = text.at(i).unicode();
        // A character beyond the first plane is one pair; a lone half of one is no character.
        const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pair)
            u = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
        const QChar::Category category = QChar::category(u);
        // Cf: zero-width characters, the byte-order mark, the bidirectional controls, tag characters.
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Other_Surrogate || u == 0x2028 || u == 0x2029;
        if (hidden)
            result += QLatin1Char('?');
        else
            result += pair ? text.mid(i, 2) : QString(text.at(i));
        i += pair ? 1 : 0;
    }
    return result;
}

} // namespace ORVIK::SafeText
