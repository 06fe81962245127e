#pragma once

#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace ORVIK {

// orvik's own request after the module's failed, to learn what the module's text leaves open: which
// server a redirect led to, what is wrong with its certificate, which status the server sent. It
// goes as the module's went: through Qt, with the same proxy, trusted certificates and redirects,
// and stops as soon as it knows (a GET whose body is never read).
class FailureProbe
{
public:
    struct Result
    {
        QUrl url;                // the address of the last step, after any redirects
        int status = 0;          // the final HTTP status; 0 when none came
        QStringList sslProblems; // what was wrong with the server's certificate
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString errorString; // Qt's own words for the error
    };

    // Blocks until it knows, at most timeoutMs.
    static Result run(const QUrl &url, bool insecure, int timeoutMs = 10000);
};

} // namespace ORVIK
