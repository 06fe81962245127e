#include "host/widgets/networkerror.h"

#include <algorithm>

namespace ORVIK {

namespace {

using Error = QNetworkReply::NetworkError;

struct Row
{
    const char *text;
    Error code;
    Error proxyCode;
    bool transient;
    // Up to five ranges of statuses; a range with first 0 is unused.
    NetworkError::StatusRange statuses[5];
};

// The module's texts, typos included ("Unkown", the case of "Operation Not permitted"): users have
// always seen these exact words. The statuses are those that Qt turns into each error.
constexpr Row kRows[] = {
    {"No Error", QNetworkReply::NoError, QNetworkReply::NoError, false, {}},
    {"Connection Refused", QNetworkReply::ConnectionRefusedError, QNetworkReply::ProxyConnectionRefusedError, true, {}},
    {"Remote Host Closed", QNetworkReply::RemoteHostClosedError, QNetworkReply::NoError, true, {}},
    {"Host Not Found", QNetworkReply::HostNotFoundError, QNetworkReply::NoError, false, {}},
    {"Timeout", QNetworkReply::TimeoutError, QNetworkReply::NoError, true, {}},
    {"Cancelled", QNetworkReply::OperationCanceledError, QNetworkReply::NoError, false, {}},
    {"SSL Handshake", QNetworkReply::SslHandshakeFailedError, QNetworkReply::NoError, false, {}},
    {"Temporary Failure", QNetworkReply::TemporaryNetworkFailureError, QNetworkReply::NoError, true, {}},
    {"Session Failed", QNetworkReply::NetworkSessionFailedError, QNetworkReply::NoError, true, {}},
    {"Background Request", QNetworkReply::BackgroundRequestNotAllowedError, QNetworkReply::NoError, false, {}},
    {"Too Many Redirects", QNetworkReply::TooManyRedirectsError, QNetworkReply::NoError, false, {}},
    {"Insecure Redirect", QNetworkReply::InsecureRedirectError, QNetworkReply::NoError, false, {}},
    {"Unknown Network", QNetworkReply::UnknownNetworkError, QNetworkReply::NoError, true, {}},
    {"Connection Closed", QNetworkReply::ProxyConnectionClosedError, QNetworkReply::NoError, true, {}},
    {"Proxy Not Found", QNetworkReply::ProxyNotFoundError, QNetworkReply::NoError, false, {}},
    {"Proxy Timeout", QNetworkReply::ProxyTimeoutError, QNetworkReply::NoError, true, {}},
    {"Authentication Required",
     QNetworkReply::AuthenticationRequiredError,
     QNetworkReply::ProxyAuthenticationRequiredError,
     false,
     {{401, 401}, {407, 407}}},
    {"Unkown Proxy Error", QNetworkReply::UnknownProxyError, QNetworkReply::NoError, false, {}},
    {"Content Denied", QNetworkReply::ContentAccessDenied, QNetworkReply::NoError, false, {{403, 403}}},
    {"Operation Not permitted",
     QNetworkReply::ContentOperationNotPermittedError,
     QNetworkReply::NoError,
     false,
     {{405, 405}}},
    {"Content Not Found", QNetworkReply::ContentNotFoundError, QNetworkReply::NoError, false, {{404, 404}}},
    {"Content Resend", QNetworkReply::ContentReSendError, QNetworkReply::NoError, false, {}},
    {"Content Conflict", QNetworkReply::ContentConflictError, QNetworkReply::NoError, false, {{409, 409}}},
    {"Content Gone", QNetworkReply::ContentGoneError, QNetworkReply::NoError, false, {{410, 410}}},
    {"Unkown Content",
     QNetworkReply::UnknownContentError,
     QNetworkReply::NoError,
     false,
     {{402, 402}, {406, 406}, {408, 408}, {411, 417}, {419, 499}}},
    {"Protocol Unknown", QNetworkReply::ProtocolUnknownError, QNetworkReply::NoError, false, {}},
    {"Protocol Invalid",
     QNetworkReply::ProtocolInvalidOperationError,
     QNetworkReply::NoError,
     false,
     {{400, 400}, {418, 418}}},
    {"Protocol Failure", QNetworkReply::ProtocolFailure, QNetworkReply::NoError, false, {}},
    {"Internal Server Error", QNetworkReply::InternalServerError, QNetworkReply::NoError, true, {{500, 500}}},
    {"Operation Not Permitted",
     QNetworkReply::OperationNotImplementedError,
     QNetworkReply::NoError,
     false,
     {{501, 501}}},
    {"Service Unavailable", QNetworkReply::ServiceUnavailableError, QNetworkReply::NoError, true, {{503, 503}}},
    {"Unkown Server", QNetworkReply::UnknownServerError, QNetworkReply::NoError, true, {{502, 502}, {504, 599}}},
};

NetworkError errorOf(const Row &row)
{
    NetworkError error;
    error.text = QLatin1String(row.text);
    error.code = row.code;
    error.proxyCode = row.proxyCode;
    error.transient = row.transient;
    for (const NetworkError::StatusRange &range : row.statuses)
        if (range.first != 0)
            error.statuses.append(range);
    return error;
}

} // namespace

bool NetworkError::standsFor(int status) const
{
    return std::any_of(statuses.cbegin(), statuses.cend(),
                       [status](const StatusRange &range) { return status >= range.first && status <= range.last; });
}

int NetworkError::statusCount() const
{
    int count = 0;
    for (const StatusRange &range : statuses)
        count += range.last - range.first + 1;
    return count;
}

std::optional<NetworkError> NetworkError::fromText(const QString &moduleText)
{
    for (const Row &row : kRows)
        if (moduleText == QLatin1String(row.text))
            return errorOf(row);
    return std::nullopt;
}

std::optional<NetworkError> NetworkError::fromStatus(int status)
{
    // Qt takes every status above 500 that it has no name for as an unknown server's, 600 and on too.
    status = std::min(status, 599);
    for (const Row &row : kRows) {
        NetworkError error = errorOf(row);
        if (error.standsFor(status))
            return error;
    }
    return std::nullopt;
}

bool NetworkError::isTransient(QNetworkReply::NetworkError code)
{
    return std::any_of(std::cbegin(kRows), std::cend(kRows),
                       [code](const Row &row) { return row.code == code && row.transient; });
}

} // namespace ORVIK
