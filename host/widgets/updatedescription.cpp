#include "host/widgets/updatedescription.h"

#include "host/widgets/qstringstream.h"
#include "host/widgets/updatechecker.h"
#include "host/widgets/updatesignature.h"

#include <QRegularExpression>

#include <cstring>
#include <string>

namespace ORVIK {

namespace {

QString qtText(const String &text)
{
    return StringStream<QString>::fromString(text);
}

QString quoted(const String &text)
{
    return QLatin1Char('"') + qtText(text) + QLatin1Char('"');
}

bool allOf(const String &text, const char *characters)
{
    for (uint32_t i = 0; i < text.length(); ++i)
        if (text[i] == '\0' || !std::strchr(characters, text[i]))
            return false;
    return true;
}

} // namespace

bool UpdateDescription::Read(const QByteArray &text, const QByteArray &publicKey, const String &product,
                             UpdateDescription *description, QString *reason)
{
    UpdateDescription read;
    QString why;
    if (text.size() > kMaxBytes) {
        why = QStringLiteral("Update description refused: it is larger than %1 bytes").arg(kMaxBytes);
    } else if (!publicKey.isEmpty()) {
        const QString unverified = UpdateSignature::CheckDescription(publicKey, text);
        if (!unverified.isEmpty())
            why = QStringLiteral("Unverified update description: ") + unverified;
        read.m_verified = why.isEmpty();
    }
    if (why.isEmpty()) {
        String error;
        read.m_entries = INIFactory::Parse(String(text.constData(), static_cast<uint32_t>(text.size())), &error);
        why = error.isEmpty() ? read.checkEntries(product, !publicKey.isEmpty())
                              : QStringLiteral("Malformed update description: ") + qtText(error);
    }
    if (!why.isEmpty()) {
        *reason = why;
        return false;
    }
    *description = std::move(read);
    reason->clear();
    return true;
}

// Why the entries are refused, or an empty text.
QString UpdateDescription::checkEntries(const String &expectedProduct, bool pinned)
{
    const QString malformed = QStringLiteral("Malformed update description: ");
    const auto missing = [&](const char *key) {
        return malformed + QStringLiteral("it gives no %1 (%1=)").arg(QLatin1String(key)) +
               (pinned ? QStringLiteral(", which a signed description must") : QString());
    };
    if (name().isEmpty())
        return missing("name");
    const String version = this->version();
    if (version.isEmpty())
        return missing("version");
    if (!UpdateChecker::IsVersion(version))
        return malformed + QStringLiteral("the version %1 is not a version number").arg(quoted(version));

    const String size = m_entries.value("size");
    if (m_entries.contains("size") && (size.isEmpty() || size.length() > 18 || !allOf(size, "0123456789")))
        return malformed + QStringLiteral("the size %1 is not a number of bytes").arg(quoted(size));
    m_size = size.isEmpty() ? -1 : std::stoll(std::string(size.data(), size.length()));
    const String sha256 = m_entries.value("sha256");
    if (m_entries.contains("sha256") && (sha256.length() != 64 || !allOf(sha256, "0123456789abcdefABCDEF")))
        return malformed + QStringLiteral("the sha256 %1 is not 64 hexadecimal digits").arg(quoted(sha256));
    m_sha256 = QByteArray::fromHex(QByteArray(sha256.data(), static_cast<qsizetype>(sha256.length())));
    const String close = m_entries.value("close").toLower();
    if (m_entries.contains("close") && close != "yes" && close != "no")
        return malformed + QStringLiteral("close is %1, not yes or no").arg(quoted(m_entries.value("close")));
    m_requiresClose = close != "no";

    const String product = this->product();
    if (product.isEmpty() && (pinned || m_entries.contains("product")))
        return missing("product");
    if (!product.isEmpty() && product != expectedProduct)
        return QStringLiteral("Update description of another product: it names %1, the check was for %2")
            .arg(quoted(product), quoted(expectedProduct));
    const String expires = m_entries.value("expires");
    if (expires.isEmpty() && (pinned || m_entries.contains("expires")))
        return missing("expires");
    if (!expires.isEmpty()) {
        m_expires = ParseTime(qtText(expires));
        if (!m_expires.isValid())
            return malformed +
                   QStringLiteral("expires is %1, not a UTC time such as 2027-01-31T00:00:00Z").arg(quoted(expires));
        if (m_expires <= QDateTime::currentDateTimeUtc())
            return QStringLiteral("Expired update description: it expired at %1").arg(TimeText(m_expires));
    }
    return QString();
}

QDateTime UpdateDescription::ParseTime(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d{1,9})?Z$"));
    if (!form.match(text).hasMatch())
        return QDateTime();
    // Qt reads at most milliseconds; a finer fraction changes nothing that matters here.
    QString trimmed = text;
    const qsizetype dot = trimmed.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        trimmed = trimmed.left(qMin(dot + 4, trimmed.size() - 1)) + QLatin1Char('Z');
    const QDateTime time = QDateTime::fromString(trimmed, Qt::ISODateWithMs);
    return time.isValid() && time.timeSpec() == Qt::UTC ? time : QDateTime();
}

QString UpdateDescription::TimeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

} // namespace ORVIK
