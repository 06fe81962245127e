#pragma once

#include <QString>
#include <QUrl>

namespace ORVIK {

class TransferOptions;

// What orvik prints when a request fails: what went wrong, where, and what to try, from the module's
// error text (the only reason its requests give). Every command that fetches an address says it the
// same way: get, put, update-check.
namespace FailureText {

// What the module's text says of the HTTP status, naming every status that Qt reports as this text
// ("the server answered HTTP 400 or 418"); empty when the text is no HTTP status's. A text that a
// proxy's answer shares says so when a proxy is in play.
QString statusPhrase(const QString &moduleText, bool throughProxy);
// The whole message, for ErrorLine to print. Where the text leaves open what happened (a failed TLS handshake,
// a text that several statuses share) it asks once more with a request of its own, and blocks
// meanwhile.
QString describe(const QString &reason, const QString &method, const TransferOptions &options);
// The same for a request to `url` made without orvik's transfer options (the update check's).
QString describe(const QString &reason, const QString &method, const QUrl &url);

} // namespace FailureText

} // namespace ORVIK
