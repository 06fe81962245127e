#include "host/widgets/update/updatedescription.h"

#include "host/widgets/qstringstream.h"
#include "host/widgets/update/updatesignature.h"
#include "host/widgets/update/updateversion.h"

#include <QRegularExpression>
#include <QUrl>

#include <cstring>

namespace ORVIK {

namespace {

QString qtText(const String &text)
{
    return StringStream<QString>::fromString(text);
}

// A value from the server as a reason quotes it: cut, so that no value can fill a screen.
QString quoted(const String &text)
{
    return QLatin1Char('"') + UpdateDescription::Cut(qtText(text)) + QLatin1Char('"');
}

// The number of a size= that allOf has found to be at most 18 digits, which always fits.
qint64 sizeOf(const String &text)
{
    qint64 size = 0;
    for (uint32_t i = 0; i < text.length(); ++i)
        size = size * 10 + (text[i] - '0');
    return size;
}

bool allOf(const String &text, const char *characters)
{
    for (uint32_t i = 0; i < text.length(); ++i)
        if (text[i] == '\0' || !std::strchr(characters, text[i]))
            return false;
    return true;
}

} // namespace

QString UpdateDescription::Refusal::text() const
{
    switch (kind) {
    case None:
        return QString();
    case TooLarge:
        return QStringLiteral("Update description refused: ") + detail;
    case Unverified:
        return QStringLiteral("Unverified update description: ") + detail;
    case Malformed:
        return QStringLiteral("Malformed update description: ") + detail;
    case OtherProduct:
        return QStringLiteral("Update description of another product: ") + detail;
    case Expired:
        return QStringLiteral("Expired update description: ") + detail;
    }
    return detail;
}

bool UpdateDescription::Read(const QByteArray &text, const QByteArray &publicKey, const String &product,
                             UpdateDescription *description, Refusal *refusal)
{
    UpdateDescription read;
    Refusal why;
    if (text.size() > kMaxBytes) {
        why = {Refusal::TooLarge, QStringLiteral("it is larger than %1 bytes").arg(kMaxBytes)};
    } else if (!publicKey.isEmpty()) {
        const QString unverified = UpdateSignature::CheckDescription(publicKey, text);
        if (!unverified.isEmpty())
            why = {Refusal::Unverified, unverified};
        read.m_verified = unverified.isEmpty();
    }
    if (why.kind == Refusal::None) {
        String error;
        QList<QByteArray> mirrors;
        const QByteArray rest = WithoutMirrors(text, &mirrors);
        read.m_entries = INIFactory::Parse(String(rest.constData(), static_cast<uint32_t>(rest.size())), &error);
        why = error.isEmpty() ? read.checkEntries(product, !publicKey.isEmpty(), mirrors)
                              : Refusal{Refusal::Malformed, Cut(qtText(error))};
    }
    *refusal = why;
    if (why.kind != Refusal::None)
        return false;
    *description = std::move(read);
    return true;
}

// Why the entries are refused, or no refusal.
UpdateDescription::Refusal UpdateDescription::checkEntries(const String &expectedProduct, bool pinned,
                                                           const QList<QByteArray> &mirrors)
{
    const auto malformed = [](const QString &detail) { return Refusal{Refusal::Malformed, detail}; };
    const auto missing = [&](const char *key) {
        return malformed(QStringLiteral("it gives no %1 (%1=)").arg(QLatin1String(key)) +
                         (pinned ? QStringLiteral(", which a signed description must") : QString()));
    };
    if (name().isEmpty())
        return missing("name");
    const String version = this->version();
    if (version.isEmpty())
        return missing("version");
    if (!UpdateVersion::IsValid(version))
        return malformed(QStringLiteral("the version %1 is not a version number").arg(quoted(version)));

    const String size = m_entries.value("size");
    // 18 digits are below 2^63: a longer number is no size a package has.
    if (m_entries.contains("size") && (size.isEmpty() || size.length() > 18 || !allOf(size, "0123456789")))
        return malformed(QStringLiteral("the size %1 is not a number of bytes").arg(quoted(size)));
    m_size = size.isEmpty() ? -1 : sizeOf(size);
    const String sha256 = m_entries.value("sha256");
    if (m_entries.contains("sha256") && (sha256.length() != 64 || !allOf(sha256, "0123456789abcdefABCDEF")))
        return malformed(QStringLiteral("the sha256 %1 is not 64 hexadecimal digits").arg(quoted(sha256)));
    m_sha256 = QByteArray::fromHex(QByteArray(sha256.data(), static_cast<qsizetype>(sha256.length())));
    if (!mirrors.isEmpty() && url().isEmpty())
        return malformed(QStringLiteral("it gives mirror= but no url="));
    if (mirrors.size() > kMaxMirrors)
        return malformed(
            QStringLiteral("it gives %1 mirror= lines, more than %2").arg(mirrors.size()).arg(kMaxMirrors));
    for (const QByteArray &mirror : mirrors) {
        const QUrl address(QString::fromUtf8(mirror), QUrl::StrictMode);
        if (!address.isValid() || address.host().isEmpty() ||
            (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https")))
            return malformed(QStringLiteral("the mirror %1 is not an http or https address")
                                 .arg(quoted(String(mirror.constData(), uint32_t(mirror.size())))));
        m_mirrors.append(address.toString());
    }
    const String close = m_entries.value("close").toLower();
    if (m_entries.contains("close") && close != "yes" && close != "no")
        return malformed(QStringLiteral("close is %1, not yes or no").arg(quoted(m_entries.value("close"))));
    m_requiresClose = close != "no";

    const String product = this->product();
    if (product.isEmpty() && (pinned || m_entries.contains("product")))
        return missing("product");
    if (!product.isEmpty() && product != expectedProduct)
        return {Refusal::OtherProduct,
                QStringLiteral("it names %1, the check was for %2").arg(quoted(product), quoted(expectedProduct))};
    const String expires = m_entries.value("expires");
    if (expires.isEmpty() && (pinned || m_entries.contains("expires")))
        return missing("expires");
    if (!expires.isEmpty()) {
        m_expires = ParseTime(qtText(expires));
        if (!m_expires.isValid())
            return malformed(QStringLiteral("expires is %1, not an RFC 3339 time such as 2027-01-31T00:00:00Z")
                                 .arg(quoted(expires)));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (m_expires <= now)
            return {Refusal::Expired, QStringLiteral("it expired at %1").arg(TimeText(m_expires))};
        // A description signed once must not be believed for ever.
        if (m_expires > now.addDays(kMaxExpiresDays))
            return malformed(QStringLiteral("it expires at %1, more than %2 days from now, which is longer than "
                                            "any description is believed")
                                 .arg(TimeText(m_expires))
                                 .arg(kMaxExpiresDays));
    }
    return Refusal();
}

QDateTime UpdateDescription::ParseTime(const QString &text)
{
    // RFC 3339's date-time: "T" and "Z" in either case, a fraction of any length, "Z" or a numeric
    // offset, and a leap second (second 60).
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{4})-([0-9][0-9])-([0-9][0-9])[Tt]([0-9][0-9]):([0-9][0-9]):([0-9][0-9])(?:\\.([0-9]+))?"
                       "(?:([Zz])|([+-])([0-9][0-9]):([0-9][0-9]))$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return QDateTime();
    const auto number = [&match](int group) { return match.captured(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const int hour = number(4);
    const int minute = number(5);
    const int second = number(6);
    const int offsetHours = match.hasCaptured(9) ? number(10) : 0;
    const int offsetMinutes = match.hasCaptured(9) ? number(11) : 0;
    if (!date.isValid() || hour > 23 || minute > 59 || second > 60 || offsetHours > 23 || offsetMinutes > 59)
        return QDateTime();
    // Milliseconds are what Qt keeps; a finer fraction changes nothing that matters here.
    const int milliseconds = match.captured(7).leftJustified(3, QLatin1Char('0')).left(3).toInt();
    // A leap second is the moment after the 59th.
    QDateTime time(date, QTime(hour, minute, qMin(second, 59), milliseconds), Qt::UTC);
    if (second == 60)
        time = time.addSecs(1);
    const int offset = (offsetHours * 60 + offsetMinutes) * 60;
    return time.addSecs(match.captured(9) == QLatin1String("-") ? offset : -offset);
}

QString UpdateDescription::TimeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

QString UpdateDescription::Cut(const QString &text)
{
    qsizetype end = 0;
    for (int characters = 0; end < text.size() && characters < kMaxShownCharacters; ++characters)
        end += text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate() ? 2 : 1;
    return end == text.size() ? text : text.left(end) + QStringLiteral("...");
}

QByteArray UpdateDescription::WithoutMirrors(const QByteArray &text, QList<QByteArray> *mirrors)
{
    mirrors->clear();
    QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        // As the key=value reader takes a first line: after a UTF-8 byte-order mark.
        if (i == 0 && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        const qsizetype equals = line.indexOf('=');
        if (equals < 0 || line.left(equals).trimmed().toLower() != "mirror")
            continue;
        mirrors->append(line.mid(equals + 1).trimmed());
        lines[i] = line.endsWith('\r') ? QByteArray("\r") : QByteArray();
    }
    return lines.join('\n');
}

} // namespace ORVIK
