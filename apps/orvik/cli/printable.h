#pragma once

#include <QString>

namespace ORVIK {

// One line of text from elsewhere (an update server, a file) made safe to print: control
// characters (C0 with line ends and escape, DEL, C1), the bidirectional controls and the line and
// paragraph separators each become '?', so that no terminal escape sequence gets through and no
// text can pass for a line of orvik's own. Apply it to a line's text, not to orvik's line ends.
inline QString printable(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (c.category() == QChar::Other_Control || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char('?');
    }
    return text;
}

} // namespace ORVIK
