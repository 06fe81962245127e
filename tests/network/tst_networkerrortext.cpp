#include "module/moduleentry.h"
#include "network/networkerrortext.h"
#include "network/qtnetworkrequest.h"

#include <QMetaMethod>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

using namespace ORVIK;

class tst_NetworkErrorText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void textForCode_data();
    void textForCode();
    void textsLiveForTheWholeProcess();
    void slotIsTheClassOwnMethod();
};

void tst_NetworkErrorText::initTestCase()
{
    // The hook registers the error type, so the slot can be called through the meta-object.
    ORVIKNetworkSetupMetatypesForORVIK();
    const QMetaType registered = QMetaType::fromName("QNetworkReply::NetworkError");
    QVERIFY(registered.isValid());
    QCOMPARE(registered, QMetaType::fromType<QNetworkReply::NetworkError>());
}

void tst_NetworkErrorText::textForCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("text");

    const struct
    {
        int code;
        const char *text;
    } rows[] = {
        {0, "No Error"},
        {1, "Connection Refused"},
        {2, "Remote Host Closed"},
        {3, "Host Not Found"},
        {4, "Timeout"},
        {5, "Cancelled"},
        {6, "SSL Handshake"},
        {7, "Temporary Failure"},
        {8, "Session Failed"},
        {9, "Background Request"},
        {10, "Too Many Redirects"},
        {11, "Insecure Redirect"},
        {99, "Unknown Network"},
        {101, "Connection Refused"},
        {102, "Connection Closed"},
        {103, "Proxy Not Found"},
        {104, "Proxy Timeout"},
        {105, "Authentication Required"},
        {199, "Unkown Proxy Error"},
        {201, "Content Denied"},
        {202, "Operation Not permitted"},
        {203, "Content Not Found"},
        {204, "Authentication Required"},
        {205, "Content Resend"},
        {206, "Content Conflict"},
        {207, "Content Gone"},
        {299, "Unkown Content"},
        {301, "Protocol Unknown"},
        {302, "Protocol Invalid"},
        {399, "Protocol Failure"},
        {401, "Internal Server Error"},
        {402, "Operation Not Permitted"},
        {403, "Service Unavailable"},
        {499, "Unkown Server"},
    };
    // Row names carry Qt's own name of the code, so a wrong mapping reads clearly in the failure.
    const QMetaEnum names = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    for (const auto &row : rows)
        QTest::addRow("%d-%s", row.code, names.valueToKey(row.code)) << row.code << QByteArray(row.text);

    for (int unlisted : {-1, -200, 12, 98, 100, 106, 198, 200, 208, 298, 300, 303, 400, 404, 500, 1000})
        QTest::addRow("unlisted-%d-is-empty", unlisted) << unlisted << QByteArray("");
}

void tst_NetworkErrorText::textForCode()
{
    QFETCH(int, code);
    QFETCH(QByteArray, text);

    QCOMPARE(networkErrorText(code), StringView(text.constData(), uint32_t(text.size())));
    // The error type holds 0..511 only; other values cannot reach the slot in a defined way.
    if (code < 0 || code > 511)
        return;
    QtNetworkRequest request(QNetworkRequest(), nullptr);
    QSignalSpy spy(&request, &NetworkRequest::errorOccurredSignal);
    QVERIFY(QMetaObject::invokeMethod(&request, "processErrorSlot", Qt::DirectConnection,
                                      Q_ARG(QNetworkReply::NetworkError, QNetworkReply::NetworkError(code))));
    QCOMPARE(spy.count(), 1);
    const StringView view = spy.at(0).at(0).value<StringView>();
    QCOMPARE(QByteArray(view.data(), view.length()), text);
    QCOMPARE(view.length(), uint32_t(text.size())); // no terminator counted
}

void tst_NetworkErrorText::textsLiveForTheWholeProcess()
{
    StringView kept;
    {
        QtNetworkRequest request(QNetworkRequest(), nullptr);
        connect(&request, &NetworkRequest::errorOccurredSignal, this, [&kept](StringView text) { kept = text; });
        QMetaObject::invokeMethod(&request, "processErrorSlot", Qt::DirectConnection,
                                  Q_ARG(QNetworkReply::NetworkError, QNetworkReply::ProxyTimeoutError));
    }
    // The request is gone; the view still points at the same constant text.
    QCOMPARE(QByteArray(kept.data(), kept.length()), QByteArray("Proxy Timeout"));
    QCOMPARE(kept.data(), networkErrorText(QNetworkReply::ProxyTimeoutError).data());
}

void tst_NetworkErrorText::slotIsTheClassOwnMethod()
{
    const QMetaObject &meta = QtNetworkRequest::staticMetaObject;
    QCOMPARE(meta.className(), "ORVIK::QtNetworkRequest");
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 1);
    const QMetaMethod slot = meta.method(meta.methodOffset());
    QCOMPARE(slot.methodSignature(), QByteArray("processErrorSlot(QNetworkReply::NetworkError)"));
    QCOMPARE(slot.methodType(), QMetaMethod::Slot);
    QCOMPARE(slot.access(), QMetaMethod::Protected);
}

QTEST_GUILESS_MAIN(tst_NetworkErrorText)
#include "tst_networkerrortext.moc"
