#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QList>
#include <QNetworkReply>
#include <QString>

#include <optional>

namespace ORVIK {

// What the module's text for a failed request stands for. The module hands the host only its texts;
// this is the one place that reads them, and the rest of the host compares codes.
struct ORVIKWIDGETS_EXPORT NetworkError
{
    // HTTP statuses from `first` to `last`, both included.
    struct StatusRange
    {
        int first;
        int last;
    };

    QString text; // as the module gives it
    // Where a proxy's error shares its text with a direct one ("Connection Refused", "Authentication
    // Required"), `code` is the direct one and `proxyCode` the proxy's; otherwise proxyCode is NoError.
    QNetworkReply::NetworkError code = QNetworkReply::NoError;
    QNetworkReply::NetworkError proxyCode = QNetworkReply::NoError;
    // Whether another try at the same address may well get past it (the direct code's nature).
    bool transient = false;
    // Every HTTP status that Qt reports as this text, the proxy's 407 included; empty for none.
    QList<StatusRange> statuses;

    bool standsFor(int status) const;
    // How many statuses it stands for: more than one, and only the status itself tells which came.
    int statusCount() const;

    // The error behind one of the module's texts; none for a text that is not one of them.
    static std::optional<NetworkError> fromText(const QString &moduleText);
    // The error that Qt makes of an HTTP error status; none for a status below 400.
    static std::optional<NetworkError> fromStatus(int status);
    // Whether another try at the same address may well get past Qt's error `code` (a proxy's refusal
    // and its authentication are not).
    static bool isTransient(QNetworkReply::NetworkError code);
};

} // namespace ORVIK
