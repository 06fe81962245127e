#include "network/qtnetworkaccessmanager.h"
#include "tests/support/ntp/ntpresponder.h"
#include "time/ntpclient.h"
#include "time/ntptimestamp.h"

#include <QHostInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <vector>

using namespace ORVIK;

extern "C" void ORVIKNetworkSetupMetatypesForORVIK();

namespace {

constexpr int kWaitMs = 10000;
constexpr qint64 kMs = 1000000;
constexpr quint16 kFirstPort = 42912;

QByteArray packetOf(const QList<QVariant> &replyReceived)
{
    return QByteArray(reinterpret_cast<const char *>(replyReceived.at(2).value<NtpReply>().packet),
                      NtpReply::kPacketSize);
}

// What the client should keep of a datagram: its first 68 bytes, zero-filled.
QByteArray kept(const QByteArray &datagram)
{
    return datagram.left(NtpReply::kPacketSize).leftJustified(NtpReply::kPacketSize, '\0');
}

// A server reply told apart from others by its transmit timestamp.
QByteArray replyWithTransmit(quint64 transmit)
{
    return NtpResponder::answer(QByteArray(), NtpResponder::now(), transmit);
}

// One time request made the way the host makes it, with spies on everything it emits.
struct Query
{
    Query(const QByteArray &host, quint16 port)
        : request(manager.createTimeRequest(StringView(host.constData(), uint32_t(host.size())), port)),
          client(qobject_cast<NtpClient *>(request.get())), finished(client, &TimeRequest::finishedSignal),
          errors(client, &TimeRequest::errorOccurredSignal), replies(client, &NtpClient::replyReceived)
    {}
    const TimeRequest &time() const { return *request; }

    QtNetworkAccessManager manager;
    std::unique_ptr<TimeRequest> request;
    NtpClient *client;
    QSignalSpy finished;
    QSignalSpy errors;
    QSignalSpy replies;
};

// Holds a UDP port as another program would: without sharing it.
std::unique_ptr<QUdpSocket> holdPort(quint16 port)
{
    auto socket = std::make_unique<QUdpSocket>();
    return socket->bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress) ? std::move(socket) : nullptr;
}

// Sends a marker from a socket of the test and waits until the responder has it. Whatever reached the
// responder's port before has been recorded by then; returns how many datagrams came before the marker.
int countBeforeFence(NtpResponder &responder)
{
    QUdpSocket probe;
    QSignalSpy received(&responder, &NtpResponder::requestReceived);
    probe.writeDatagram(QByteArrayLiteral("fence"), responder.address(), responder.port());
    while (responder.requests().isEmpty() || responder.requests().constLast().bytes != "fence")
        if (!received.wait(kWaitMs))
            return -1;
    return int(responder.requests().size()) - 1;
}

} // namespace

class tst_NtpClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void metaTypesAreRegisteredByTheHook();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void replyTimes_data();
    void replyTimes();
    void datagramSizes_data();
    void datagramSizes();
    void burstGivesOneSignalPairPerDatagram();
    void receiverMayDeleteTheClientOnFinish();
    void receivePort_data();
    void receivePort();
    void failedLookups_data();
    void failedLookups();
    void onlyTheFirstAddressIsTried();
    void destroyedWhileLookupPending_data();
    void destroyedWhileLookupPending();

private:
    static QUdpSocket *socketOf(const NtpClient &client) { return client.socket; }
};

void tst_NtpClient::metaTypesAreRegisteredByTheHook()
{
    // Runs first: no client has been created yet.
    ORVIKNetworkSetupMetatypesForORVIK();
    QCOMPARE(QMetaType::fromName("ORVIK::NtpReply"), QMetaType::fromType<NtpReply>());
    QCOMPARE(QMetaType::fromName("ORVIK::Time"), QMetaType::fromType<Time>());
    QCOMPARE(QMetaType::fromName("QHostAddress"), QMetaType::fromType<QHostAddress>());
    // The host's times are slots too, callable by name before any reply.
    NtpClient client;
    Time received(5);
    QVERIFY(QMetaObject::invokeMethod(&client, "rxTime", Qt::DirectConnection, Q_RETURN_ARG(ORVIK::Time, received)));
    QCOMPARE(received, Time());
}

void tst_NtpClient::requestOnTheWire_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QHostAddress>("server");
    QTest::newRow("ipv4-literal") << QByteArray("127.0.0.1") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("ipv6-literal-goes-to-::1") << QByteArray("::1") << QHostAddress(QHostAddress::LocalHostIPv6);
    // Whatever the resolver lists first (on the build machine /etc/hosts gives only 127.0.0.1).
    const QList<QHostAddress> localhost = QHostInfo::fromName(QStringLiteral("localhost")).addresses();
    if (!localhost.isEmpty())
        QTest::newRow("localhost-goes-to-its-first-address") << QByteArray("localhost") << localhost.constFirst();
}

void tst_NtpClient::requestOnTheWire()
{
    QFETCH(QByteArray, host);
    QFETCH(QHostAddress, server);
    QVERIFY(server.isLoopback());
    NtpResponder responder;
    QVERIFY2(responder.listen(server), qPrintable(responder.errorString()));
    responder.staySilent();

    const qint64 before = Time::SystemTime().nanoseconds();
    Query query(host, responder.port());
    // Nothing happens before the lookup completes on the event loop.
    QVERIFY(!socketOf(*query.client));
    QCOMPARE(query.time().rxTime(), Time());
    QCOMPARE(query.time().serverTime(), Time());
    QTRY_COMPARE_WITH_TIMEOUT(responder.requests().size(), 1, kWaitMs);
    const qint64 after = Time::SystemTime().nanoseconds();

    const NtpResponder::Request &request = responder.requests().constFirst();
    QCOMPARE(request.senderPort, kFirstPort);
    QVERIFY(request.sender.isEqual(server, QHostAddress::ConvertV4MappedToIPv4));
    QCOMPARE(request.bytes.size(), 48);
    QCOMPARE(quint8(request.bytes[0]), quint8(0x23));
    QCOMPARE(request.bytes.mid(1, 39), QByteArray(39, '\0'));
    // The send time cut to a whole millisecond: exactly one millisecond between the clock readings
    // before and after encodes to the timestamp on the wire.
    const quint64 sent = NtpResponder::timestampAt(request.bytes, NtpResponder::kTransmitOffset);
    int matches = 0;
    for (qint64 ms = before / kMs; ms <= after / kMs; ++ms)
        matches += NtpResponder::timestampFromNanoseconds(ms * kMs) == sent;
    QCOMPARE(matches, 1);
    QCOMPARE(query.finished.size() + query.errors.size(), 0);
}

void tst_NtpClient::replyTimes_data()
{
    QTest::addColumn<QHostAddress>("server");
    QTest::newRow("reply-from-ipv4") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("reply-from-ipv6") << QHostAddress(QHostAddress::LocalHostIPv6);
}

void tst_NtpClient::replyTimes()
{
    QFETCH(QHostAddress, server);
    NtpResponder responder;
    QVERIFY2(responder.listen(server), qPrintable(responder.errorString()));
    QByteArray sentReply;
    qint64 answeredAt = 0;
    responder.setScript([&](const QByteArray &request) {
        // A server 3.5 s ahead, so that its times cannot pass for ours.
        answeredAt = Time::SystemTime().nanoseconds();
        const quint64 serverNow = NtpResponder::timestampFromNanoseconds(answeredAt + 3500 * kMs);
        sentReply = NtpResponder::answer(request, serverNow, serverNow + 1234567);
        return QList<QByteArray>{sentReply};
    });
    Query query(server.toString().toLatin1(), responder.port());
    QVERIFY(query.finished.wait(kWaitMs));
    const Time afterFinished = Time::SystemTime();
    QCOMPARE(query.replies.size(), 1);

    const QByteArray &request = responder.requests().constFirst().bytes;
    const auto *requestBytes = reinterpret_cast<const uint8_t *>(request.constData());
    QCOMPARE(query.time().serverTime(), NtpTimestamp::read(requestBytes + 40).toTime()); // the echoed origin
    const quint64 transmit = NtpResponder::timestampAt(sentReply, NtpResponder::kTransmitOffset);
    QCOMPARE(query.time().txTime().nanoseconds(), NtpResponder::nanosecondsFromTimestamp(transmit) / kMs * kMs);
    QVERIFY(query.time().rxTime().nanoseconds() >= answeredAt);
    QVERIFY(query.time().rxTime() <= afterFinished);

    const QList<QVariant> &signalled = query.replies.constFirst();
    QVERIFY(signalled.at(0).value<QHostAddress>().isEqual(server, QHostAddress::ConvertV4MappedToIPv4));
    QCOMPARE(signalled.at(1).value<ushort>(), responder.port());
    QCOMPARE(packetOf(signalled), kept(sentReply));
    // The signalled reply carries a second clock reading, taken after the stored one.
    const Time signalledTime = signalled.at(2).value<NtpReply>().receiveTime;
    QVERIFY(signalledTime >= query.time().rxTime() && signalledTime <= afterFinished);
}

void tst_NtpClient::datagramSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty-dropped") << 0;
    QTest::newRow("47-bytes-dropped") << 47;
    QTest::newRow("48-bytes-key-and-digest-zero") << 48;
    QTest::newRow("52-bytes-key-kept-digest-zero") << 52;
    QTest::newRow("68-bytes-all-kept") << 68;
    QTest::newRow("100-bytes-first-68-kept") << 100;
}

void tst_NtpClient::datagramSizes()
{
    QFETCH(int, size);
    QByteArray datagram(size, '\0');
    for (int i = 0; i < size; ++i)
        datagram[i] = char(i % 250 + 1); // no zero byte, so that zero filling shows
    // A well-formed reply follows, so the exchange ends with a signal whatever the size.
    const QByteArray marker = replyWithTransmit(0x83AA7E8180000000u); // 1970-01-01 00:00:01.5
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    responder.sendDatagrams({datagram, marker});

    Query query("127.0.0.1", responder.port());
    const int expected = size >= 48 ? 2 : 1;
    QTRY_COMPARE_WITH_TIMEOUT(query.finished.size(), expected, kWaitMs);
    QCOMPARE(query.replies.size(), expected);
    if (expected == 2)
        QCOMPARE(packetOf(query.replies.constFirst()), kept(datagram));
    QCOMPARE(packetOf(query.replies.constLast()), kept(marker));
    QCOMPARE(query.time().txTime(), Time(1500 * kMs));
}

void tst_NtpClient::burstGivesOneSignalPairPerDatagram()
{
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    responder.sendDatagrams({replyWithTransmit(0x83AA7E8100000000u), replyWithTransmit(0x83AA7E8200000000u)});
    Query query("127.0.0.1", responder.port());
    QStringList order;
    connect(query.client, &NtpClient::replyReceived, this, [&] { order << QStringLiteral("reply"); });
    connect(query.client, &TimeRequest::finishedSignal, this,
            [&] { order << QStringLiteral("finished %1").arg(query.time().txTime().nanoseconds() / kMs); });
    QTRY_COMPARE_WITH_TIMEOUT(query.finished.size(), 2, kWaitMs);
    QCOMPARE(order, QStringList({"reply", "finished 1000", "reply", "finished 2000"}));
    QCOMPARE(query.time().txTime(), Time(2000 * kMs)); // the second is kept
}

void tst_NtpClient::receiverMayDeleteTheClientOnFinish()
{
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    responder.sendDatagrams({replyWithTransmit(1), replyWithTransmit(2), replyWithTransmit(3)});
    QtNetworkAccessManager manager;
    QPointer<TimeRequest> request = manager.createTimeRequest("127.0.0.1", responder.port());
    int finished = 0;
    connect(request, &TimeRequest::finishedSignal, this, [&] {
        ++finished;
        delete request.data(); // a host may drop the request as soon as it has its answer
    });
    QTRY_VERIFY_WITH_TIMEOUT(request.isNull(), kWaitMs);
    QCOMPARE(finished, 1);
    QVERIFY(holdPort(kFirstPort)); // and the port is free again at once
}

void tst_NtpClient::receivePort_data()
{
    QTest::addColumn<QList<quint16>>("held");
    QTest::addColumn<int>("expected"); // 0: no port could be bound
    QTest::newRow("none-held-binds-42912") << QList<quint16>{} << 42912;
    QTest::newRow("only-42913-held-binds-42912") << QList<quint16>{42913} << 42912;
    QTest::newRow("42912-held-binds-42913") << QList<quint16>{42912} << 42913;
    QTest::newRow("42912-and-42913-held-binds-42914") << QList<quint16>{42912, 42913} << 42914;
    QTest::newRow("all-three-held-fails-and-sends-nothing") << QList<quint16>{42912, 42913, 42914} << 0;
}

void tst_NtpClient::receivePort()
{
    QFETCH(QList<quint16>, held);
    QFETCH(int, expected);
    std::vector<std::unique_ptr<QUdpSocket>> holders;
    for (quint16 port : held) {
        holders.push_back(holdPort(port));
        QVERIFY2(holders.back(), qPrintable(QStringLiteral("port %1 is in use outside this test").arg(port)));
    }
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    Query query("127.0.0.1", responder.port());
    if (expected == 0) {
        QVERIFY(query.errors.wait(kWaitMs));
        QCOMPARE(query.errors.constFirst().constFirst().toInt(), 0);
        QCOMPARE(countBeforeFence(responder), 0);
        QCOMPARE(query.errors.size(), 1);
        QCOMPARE(query.finished.size(), 0);
        return;
    }
    QVERIFY(query.finished.wait(kWaitMs));
    QCOMPARE(responder.requests().size(), 1);
    QCOMPARE(responder.requests().constFirst().senderPort, quint16(expected));
    QCOMPARE(query.errors.size(), 0);
}

void tst_NtpClient::failedLookups_data()
{
    QTest::addColumn<QHostInfo>("info");
    QHostInfo notFound;
    notFound.setError(QHostInfo::HostNotFound);
    notFound.setAddresses({QHostAddress(QHostAddress::LocalHost)}); // an error wins over any address
    QTest::newRow("host-not-found") << notFound;
    QTest::newRow("no-error-but-no-address") << QHostInfo();
}

void tst_NtpClient::failedLookups()
{
    QFETCH(QHostInfo, info);
    NtpClient client;
    QSignalSpy errors(&client, &TimeRequest::errorOccurredSignal);
    QSignalSpy finished(&client, &TimeRequest::finishedSignal);
    client.lookupCompleted(info, kFirstPort, 123);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.constFirst().constFirst().toInt(), 0);
    QCOMPARE(finished.size(), 0);
    QVERIFY(!socketOf(client)); // nothing was bound

    // The same through the access manager and a real resolver: an empty name cannot be looked up.
    Query query("", 123);
    QVERIFY(query.errors.wait(kWaitMs));
    QCOMPARE(query.errors.constFirst().constFirst().toInt(), 0);
}

void tst_NtpClient::onlyTheFirstAddressIsTried()
{
    NtpResponder first;
    NtpResponder second;
    QVERIFY2(first.listen(QHostAddress(QHostAddress::LocalHostIPv6)), qPrintable(first.errorString()));
    // The same port number on the other address, so a send to the second address would arrive.
    QVERIFY2(second.listen(QHostAddress(QHostAddress::LocalHost), first.port()), qPrintable(second.errorString()));
    first.staySilent();
    QHostInfo info;
    info.setAddresses({first.address(), second.address()});
    NtpClient client;
    client.lookupCompleted(info, kFirstPort, first.port());
    QTRY_COMPARE_WITH_TIMEOUT(first.requests().size(), 1, kWaitMs);
    QCOMPARE(countBeforeFence(second), 0);
}

void tst_NtpClient::destroyedWhileLookupPending_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("address-literal") << QByteArray("127.0.0.1");
    QTest::newRow("name-from-the-resolver") << QByteArray("localhost");
    QTest::newRow("lookup-that-fails") << QByteArray("");
}

void tst_NtpClient::destroyedWhileLookupPending()
{
    QFETCH(QByteArray, host);
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    {
        Query abandoned(host, responder.port()); // destroyed before its lookup can complete
    }
    // A later lookup of the same name completes after the abandoned one would have.
    bool probed = false;
    QHostInfo::lookupHost(QString::fromLatin1(host), this, [&](const QHostInfo &) { probed = true; });
    QTRY_VERIFY_WITH_TIMEOUT(probed, kWaitMs);
    QCOMPARE(countBeforeFence(responder), 0);
    QVERIFY(holdPort(kFirstPort)); // nothing was bound for the destroyed client
}

QTEST_GUILESS_MAIN(tst_NtpClient)
#include "tst_ntpclient.moc"
