#include "host/widgets/qstringstream.h"

namespace ORVIK {

QString StringStream<QString>::fromString(const StringView &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.length()));
}

void StringStream<QString>::toString(const QString &text, String &out)
{
    out = StringStream<QByteArray>::toString(text.toUtf8());
}

String StringStream<QString>::toString(const QString &text)
{
    String out;
    toString(text, out);
    return out;
}

QByteArray StringStream<QByteArray>::fromString(const StringView &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.length()));
}

void StringStream<QByteArray>::toString(const QByteArray &bytes, String &out)
{
    out = String(bytes.constData(), static_cast<uint32_t>(bytes.size()));
}

String StringStream<QByteArray>::toString(const QByteArray &bytes)
{
    String out;
    toString(bytes, out);
    return out;
}

} // namespace ORVIK
