#include "host/widgets/networkerror.h"
#include "network/networkerrortext.h"

#include <QTest>

using namespace ORVIK;

// The module's texts, each with the error it stands for: the one place where the texts are written
// out in the tests, read by the host and given by the module. The statuses read "400,418" and "411-417"
// for a range.
class tst_NetworkError : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void texts_data();
    void texts();
    void statuses_data();
    void statuses();
    void onlyQtsCodesHaveTexts();
};

void tst_NetworkError::texts_data()
{
    using E = QNetworkReply::NetworkError;
    QTest::addColumn<QString>("text");
    QTest::addColumn<E>("code");
    QTest::addColumn<E>("proxyCode");
    QTest::addColumn<bool>("transient");
    QTest::addColumn<QString>("statuses");
    const auto row = [](const char *text, E code, E proxyCode, bool transient, const char *statuses) {
        QTest::newRow(text) << QString::fromLatin1(text) << code << proxyCode << transient
                            << QString::fromLatin1(statuses);
    };
    const E none = QNetworkReply::NoError;
    row("No Error", QNetworkReply::NoError, none, false, "");
    row("Connection Refused", QNetworkReply::ConnectionRefusedError, QNetworkReply::ProxyConnectionRefusedError, true,
        "");
    row("Remote Host Closed", QNetworkReply::RemoteHostClosedError, none, true, "");
    row("Host Not Found", QNetworkReply::HostNotFoundError, none, false, "");
    row("Timeout", QNetworkReply::TimeoutError, none, true, "");
    row("Cancelled", QNetworkReply::OperationCanceledError, none, false, "");
    row("SSL Handshake", QNetworkReply::SslHandshakeFailedError, none, false, "");
    row("Temporary Failure", QNetworkReply::TemporaryNetworkFailureError, none, true, "");
    row("Session Failed", QNetworkReply::NetworkSessionFailedError, none, true, "");
    row("Background Request", QNetworkReply::BackgroundRequestNotAllowedError, none, false, "");
    row("Too Many Redirects", QNetworkReply::TooManyRedirectsError, none, false, "");
    row("Insecure Redirect", QNetworkReply::InsecureRedirectError, none, false, "");
    row("Unknown Network", QNetworkReply::UnknownNetworkError, none, true, "");
    row("Connection Closed", QNetworkReply::ProxyConnectionClosedError, none, true, "");
    row("Proxy Not Found", QNetworkReply::ProxyNotFoundError, none, false, "");
    row("Proxy Timeout", QNetworkReply::ProxyTimeoutError, none, true, "");
    row("Authentication Required", QNetworkReply::AuthenticationRequiredError,
        QNetworkReply::ProxyAuthenticationRequiredError, false, "401,407");
    row("Unkown Proxy Error", QNetworkReply::UnknownProxyError, none, false, "");
    row("Content Denied", QNetworkReply::ContentAccessDenied, none, false, "403");
    row("Operation Not permitted", QNetworkReply::ContentOperationNotPermittedError, none, false, "405");
    row("Content Not Found", QNetworkReply::ContentNotFoundError, none, false, "404");
    row("Content Resend", QNetworkReply::ContentReSendError, none, false, "");
    row("Content Conflict", QNetworkReply::ContentConflictError, none, false, "409");
    row("Content Gone", QNetworkReply::ContentGoneError, none, false, "410");
    row("Unkown Content", QNetworkReply::UnknownContentError, none, false, "402,406,408,411-417,419-499");
    row("Protocol Unknown", QNetworkReply::ProtocolUnknownError, none, false, "");
    row("Protocol Invalid", QNetworkReply::ProtocolInvalidOperationError, none, false, "400,418");
    row("Protocol Failure", QNetworkReply::ProtocolFailure, none, false, "");
    row("Internal Server Error", QNetworkReply::InternalServerError, none, true, "500");
    row("Operation Not Permitted", QNetworkReply::OperationNotImplementedError, none, false, "501");
    row("Service Unavailable", QNetworkReply::ServiceUnavailableError, none, true, "503");
    row("Unkown Server", QNetworkReply::UnknownServerError, none, true, "502,504-599");
}

void tst_NetworkError::texts()
{
    QFETCH(QString, text);
    QFETCH(QNetworkReply::NetworkError, code);
    QFETCH(QNetworkReply::NetworkError, proxyCode);
    QFETCH(bool, transient);
    QFETCH(QString, statuses);
    const std::optional<NetworkError> error = NetworkError::fromText(text);
    QVERIFY(error);
    // The module gives the text for the code, and for the proxy's code that shares it.
    const auto moduleText = [](int given) {
        const StringView view = networkErrorText(given);
        return QString::fromUtf8(view.data(), int(view.length()));
    };
    QCOMPARE(moduleText(code), text);
    if (proxyCode != QNetworkReply::NoError)
        QCOMPARE(moduleText(proxyCode), text);
    QCOMPARE(error->text, text);
    QCOMPARE(error->code, code);
    QCOMPARE(error->proxyCode, proxyCode);
    QCOMPARE(error->transient, transient);
    QCOMPARE(NetworkError::isTransient(code), transient);
    if (proxyCode != QNetworkReply::NoError)
        QVERIFY(!NetworkError::isTransient(proxyCode));
    QStringList ranges;
    for (const NetworkError::StatusRange &range : error->statuses)
        ranges.append(range.first == range.last ? QString::number(range.first)
                                                : QStringLiteral("%1-%2").arg(range.first).arg(range.last));
    QCOMPARE(ranges.join(QLatin1Char(',')), statuses);
    // Every status named gives this text back, and it is told apart only when the text has one status.
    int count = 0;
    for (const NetworkError::StatusRange &range : error->statuses) {
        for (int status = range.first; status <= range.last; ++status, ++count) {
            QVERIFY2(error->standsFor(status), qPrintable(QString::number(status)));
            const std::optional<NetworkError> back = NetworkError::fromStatus(status);
            QVERIFY2(back && back->code == code, qPrintable(QString::number(status)));
        }
    }
    QCOMPARE(error->statusCount(), count);
    // The text exactly: neither another case nor spaces around it.
    QVERIFY(!NetworkError::fromText(text.toUpper()) || text.toUpper() == text);
    QVERIFY(!NetworkError::fromText(text + QLatin1Char(' ')));
}

// Statuses beyond those that texts() reads back: below what Qt takes for errors, and above 599.
void tst_NetworkError::statuses_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text"); // empty: none
    QTest::newRow("success") << 200 << QString();
    QTest::newRow("redirect") << 399 << QString();
    QTest::newRow("beyond-599") << 600 << QStringLiteral("Unkown Server");
}

void tst_NetworkError::statuses()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    const std::optional<NetworkError> error = NetworkError::fromStatus(status);
    QCOMPARE(error ? error->text : QString(), text);
}

// Every code that Qt has is given a text (the rows above say which), and no other number.
void tst_NetworkError::onlyQtsCodesHaveTexts()
{
    const QMetaEnum names = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    for (int code = -300; code <= 1000; ++code)
        QVERIFY2(networkErrorText(code).isEmpty() == (names.valueToKey(code) == nullptr),
                 qPrintable(QString::number(code)));
}

QTEST_GUILESS_MAIN(tst_NetworkError)
#include "tst_networkerror.moc"
