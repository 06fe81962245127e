#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

// A line of the table that orvik time prints first.
struct TimeTableRow
{
    QString address;
    int port = 0;
    QString auth;
    int answers = 0;
    int requests = 0;
    QString status;
};

// The table's lines up to its end; none when standard output does not start with its header.
inline QList<TimeTableRow> timeTableOf(const QString &out)
{
    QList<TimeTableRow> rows;
    const QStringList lines = out.split(QLatin1Char('\n'));
    if (!lines.constFirst().startsWith(QStringLiteral("ADDRESS ")))
        return rows;
    const QRegularExpression pattern(QStringLiteral(
        "^(\\S+)(?: \\(\\S+\\))?\\s+(\\d+)\\s+(NTS|none)\\s+\\S+\\s+\\S+\\s+\\S+\\s+\\S+\\s+(\\d+)/(\\d+)  (.+)$"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = pattern.match(lines[i]);
        if (!match.hasMatch())
            break;
        rows.append({match.captured(1), match.captured(2).toInt(), match.captured(3), match.captured(4).toInt(),
                     match.captured(5).toInt(), match.captured(6)});
    }
    return rows;
}
