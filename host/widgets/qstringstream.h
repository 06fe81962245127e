#pragma once

#include "host/base/orvikstring.h"
#include "host/base/stringstream.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QString>

namespace ORVIK {

// Host text is UTF-8; these conversions are lossless for valid UTF-8.
template <>
struct ORVIKWIDGETS_EXPORT StringStream<QString>
{
    static QString fromString(const StringView &text);
    static void toString(const QString &text, String &out);
    static String toString(const QString &text);
};

// Bytes are taken as they are: no decoding.
template <>
struct ORVIKWIDGETS_EXPORT StringStream<QByteArray>
{
    static QByteArray fromString(const StringView &text);
    static void toString(const QByteArray &bytes, String &out);
    static String toString(const QByteArray &bytes);
};

} // namespace ORVIK
