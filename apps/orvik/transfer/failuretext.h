#pragma once

#include <QString>

namespace ORVIK {

class TransferOptions;

// What `orvik get` and `orvik put` print when a transfer fails: what went wrong, where, and what to
// try, from the module's error text (the only reason its requests give).
namespace FailureText {

// The HTTP status that Qt turns into this module text, or 0 when the text is no HTTP status's.
// A text that stands for a whole class of statuses gives 499 or 599.
int httpStatus(const QString &moduleText);
// The whole line after "orvik: ". For a failed TLS handshake it connects once more, on its own, to
// learn the certificate's problems; it blocks meanwhile.
QString describe(const QString &reason, const QString &method, const TransferOptions &options);

} // namespace FailureText

} // namespace ORVIK
