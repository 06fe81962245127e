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

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed) % 251 + 1); // never zero
    return bytes;
}

QByteArray packetBytes(const NtpReply &reply)
{
    return QByteArray(reinterpret_cast<const char *>(reply.packet), NtpReply::kPacketSize);
}

QByteArray expectedPacket(const QByteArray &datagram)
{
    QByteArray packet = datagram.left(NtpReply::kPacketSize);
    packet.append(NtpReply::kPacketSize - packet.size(), '\0');
    return packet;
}

// A server-mode datagram with a given transmit timestamp, so that replies can be told apart.
QByteArray replyWithTransmit(quint64 transmit)
{
    return NtpResponder::answer(QByteArray(), NtpResponder::now(), transmit);
}

bool sameHost(const QHostAddress &a, const QHostAddress &b)
{
    return a.isEqual(b, QHostAddress::ConvertV4MappedToIPv4);
}

// One time request made the way the host makes it, with spies on everything it emits.
struct Query
{
    explicit Query(const QByteArray &host, quint16 port)
        : request(manager.createTimeRequest(StringView(host.constData(), uint32_t(host.size())), port)),
          client(qobject_cast<NtpClient *>(request.get())), finished(request.get(), &TimeRequest::finishedSignal),
          errors(request.get(), &TimeRequest::errorOccurredSignal), replies(client, &NtpClient::replyReceived)
    {}

    TimeRequest &time() const { return *request; }

    QtNetworkAccessManager manager;
    std::unique_ptr<TimeRequest> request;
    NtpClient *client;
    QSignalSpy finished;
    QSignalSpy errors;
    QSignalSpy replies;
};

// Holds a UDP port the way another program would: no address sharing.
std::unique_ptr<QUdpSocket> holdPort(quint16 port)
{
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress))
        return nullptr;
    return socket;
}

} // namespace

class tst_NtpClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void metaTypesAreRegisteredByTheHook();
    void createTimeRequestReturnsBeforeAnyTraffic();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void replyTimes_data();
    void replyTimes();
    void datagramSizes_data();
    void datagramSizes();
    void burstGivesOneSignalPairPerDatagram();
    void keepsListeningAfterAReply();
    void receiverMayDeleteTheClientOnFinish();
    void bindsTheNextFreePort_data();
    void bindsTheNextFreePort();
    void allPortsTakenReportsAndSendsNothing();
    void lookupResultsThatFail_data();
    void lookupResultsThatFail();
    void onlyTheFirstAddressIsTried();
    void refusedSendIsReportedOnce();
    void destroyedWhileLookupPending_data();
    void destroyedWhileLookupPending();
    void destroyingTheClientFreesItsPort();

private:
    // Drives the completion exactly as the access manager's lookup does.
    static void complete(NtpClient &client, const QHostInfo &info, quint16 serverPort)
    {
        client.lookupCompleted(info, kFirstPort, serverPort);
    }
    static QUdpSocket *socketOf(const NtpClient &client) { return client.socket; }
    // Sends a marker datagram to the responder from a socket of the test and waits until the responder
    // has it. Datagrams that reached the responder's port earlier have then been recorded too.
    static bool fence(NtpResponder &responder);
    static int requestsBeforeFence(const NtpResponder &responder) { return int(responder.requests().size()) - 1; }
};

bool tst_NtpClient::fence(NtpResponder &responder)
{
    QUdpSocket probe;
    QSignalSpy received(&responder, &NtpResponder::requestReceived);
    if (probe.writeDatagram(QByteArrayLiteral("fence"), responder.address(), responder.port()) != 5)
        return false;
    while (responder.requests().isEmpty() || responder.requests().constLast().bytes != "fence")
        if (!received.wait(kWaitMs))
            return false;
    return true;
}

void tst_NtpClient::metaTypesAreRegisteredByTheHook()
{
    // Runs first: nothing before it has created a client.
    ORVIKNetworkSetupMetatypesForORVIK();
    for (const char *name : {"ORVIK::NtpReply", "ORVIK::Time", "QHostAddress"})
        QVERIFY2(QMetaType::fromName(name).isValid(), name);
    QCOMPARE(QMetaType::fromName("ORVIK::NtpReply"), QMetaType::fromType<NtpReply>());
    QCOMPARE(QMetaType::fromName("ORVIK::Time"), QMetaType::fromType<Time>());

    NtpReply reply;
    reply.packet[0] = 0x24;
    reply.receiveTime = Time(42);
    const QVariant copy = QVariant::fromValue(reply);
    QCOMPARE(copy.value<NtpReply>().receiveTime, Time(42));
    QCOMPARE(copy.value<NtpReply>().packet[0], uint8_t(0x24));
}

void tst_NtpClient::createTimeRequestReturnsBeforeAnyTraffic()
{
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    Query query("127.0.0.1", responder.port());
    QVERIFY(query.client);
    QCOMPARE(query.client->metaObject()->className(), "ORVIK::NtpClient");
    QVERIFY(!socketOf(*query.client)); // the lookup has not completed, so nothing is bound yet
    QCOMPARE(query.time().rxTime(), Time());
    QCOMPARE(query.time().serverTime(), Time());
    QCOMPARE(query.time().txTime(), Time());
    QVERIFY(responder.requests().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(responder.requests().size(), 1, kWaitMs);
}

void tst_NtpClient::requestOnTheWire_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QHostAddress>("server");

    QTest::newRow("ipv4-literal") << QByteArray("127.0.0.1") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("ipv6-literal-goes-to-::1") << QByteArray("::1") << QHostAddress(QHostAddress::LocalHostIPv6);
    // Whatever this machine's resolver lists first for localhost (here /etc/hosts gives 127.0.0.1 only).
    const QHostInfo localhost = QHostInfo::fromName(QStringLiteral("localhost"));
    if (!localhost.addresses().isEmpty())
        QTest::newRow("localhost-goes-to-its-first-address")
            << QByteArray("localhost") << localhost.addresses().constFirst();
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
    QTRY_COMPARE_WITH_TIMEOUT(responder.requests().size(), 1, kWaitMs);
    const qint64 after = Time::SystemTime().nanoseconds();

    const NtpResponder::Request &request = responder.requests().constFirst();
    QCOMPARE(request.senderPort, kFirstPort);
    QVERIFY(sameHost(request.sender, server));
    QCOMPARE(request.bytes.size(), 48);
    QCOMPARE(quint8(request.bytes[0]), quint8(0x23));
    QCOMPARE(request.bytes.mid(1, 39), QByteArray(39, '\0'));

    // The transmit timestamp is the send time cut to a whole millisecond: exactly one millisecond
    // between the readings before and after encodes to it.
    const quint64 sent = NtpResponder::timestampAt(request.bytes, NtpResponder::kTransmitOffset);
    int matches = 0;
    for (qint64 ms = before / kMs; ms <= after / kMs; ++ms)
        matches += NtpResponder::timestampFromNanoseconds(ms * kMs) == sent;
    QCOMPARE(matches, 1);
    QCOMPARE(query.finished.size(), 0);
    QCOMPARE(query.errors.size(), 0);
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
        answeredAt = Time::SystemTime().nanoseconds();
        // The server's clock is 3.5 s ahead, so its times cannot be confused with ours.
        const quint64 serverNow = NtpResponder::timestampFromNanoseconds(answeredAt + 3500 * kMs);
        sentReply = NtpResponder::answer(request, serverNow, serverNow + 1234567);
        return QList<QByteArray>{sentReply};
    });

    Query query(server.toString().toLatin1(), responder.port());
    QVERIFY(query.finished.wait(kWaitMs));
    const qint64 afterFinished = Time::SystemTime().nanoseconds();
    QCOMPARE(query.finished.size(), 1);
    QCOMPARE(query.replies.size(), 1);
    QCOMPARE(query.errors.size(), 0);

    const QByteArray request = responder.requests().constFirst().bytes;
    // serverTime: the origin timestamp, which echoes our own request.
    const NtpTimestamp requestStamp = NtpTimestamp::read(reinterpret_cast<const uint8_t *>(request.constData()) + 40);
    QCOMPARE(query.time().serverTime(), requestStamp.toTime());
    // txTime: the server's transmit timestamp, cut to the millisecond.
    const qint64 transmitNs =
        NtpResponder::nanosecondsFromTimestamp(NtpResponder::timestampAt(sentReply, NtpResponder::kTransmitOffset));
    QCOMPARE(query.time().txTime().nanoseconds(), transmitNs / kMs * kMs);
    QVERIFY(query.time().txTime() != query.time().serverTime());
    // rxTime: our clock when the reply was read.
    QVERIFY(query.time().rxTime().nanoseconds() >= answeredAt);
    QVERIFY(query.time().rxTime().nanoseconds() <= afterFinished);

    const QList<QVariant> arguments = query.replies.constFirst();
    QVERIFY(sameHost(arguments.at(0).value<QHostAddress>(), server));
    QCOMPARE(arguments.at(1).value<ushort>(), responder.port());
    const NtpReply reply = arguments.at(2).value<NtpReply>();
    QCOMPARE(packetBytes(reply), expectedPacket(sentReply));
    // A second clock reading, taken after the one the client stored.
    QVERIFY(reply.receiveTime >= query.time().rxTime());
    QVERIFY(reply.receiveTime.nanoseconds() <= afterFinished);
}

void tst_NtpClient::datagramSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty-dropped") << 0;
    QTest::newRow("1-byte-dropped") << 1;
    QTest::newRow("47-bytes-dropped") << 47;
    QTest::newRow("48-bytes-key-and-digest-zero") << 48;
    QTest::newRow("52-bytes-key-kept-digest-zero") << 52;
    QTest::newRow("68-bytes-all-kept") << 68;
    QTest::newRow("69-bytes-first-68-kept") << 69;
    QTest::newRow("100-bytes-first-68-kept") << 100;
    QTest::newRow("1000-bytes-first-68-kept") << 1000;
}

void tst_NtpClient::datagramSizes()
{
    QFETCH(int, size);
    const QByteArray datagram = pattern(size, size);
    // A well-formed reply follows, so that the end of the exchange is a signal, whatever the size.
    const QByteArray marker = replyWithTransmit(0x83AA7E8180000000u);
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    responder.sendDatagrams({datagram, marker});

    Query query("127.0.0.1", responder.port());
    const bool accepted = size >= 48;
    const int expected = accepted ? 2 : 1;
    QTRY_COMPARE_WITH_TIMEOUT(query.finished.size(), expected, kWaitMs);
    QCOMPARE(query.replies.size(), expected);
    QCOMPARE(query.errors.size(), 0);
    if (accepted)
        QCOMPARE(packetBytes(query.replies.at(0).at(2).value<NtpReply>()), expectedPacket(datagram));
    QCOMPARE(packetBytes(query.replies.constLast().at(2).value<NtpReply>()), expectedPacket(marker));
    QCOMPARE(query.time().txTime(), Time(1500 * kMs));
}

void tst_NtpClient::burstGivesOneSignalPairPerDatagram()
{
    const QByteArray first = replyWithTransmit(0x83AA7E8100000000u);  // 1970-01-01 00:00:01
    const QByteArray second = replyWithTransmit(0x83AA7E8200000000u); // 00:00:02
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    responder.sendDatagrams({first, second});

    Query query("127.0.0.1", responder.port());
    QStringList order;
    std::vector<std::pair<Time, Time>> readings; // (stored rxTime, time inside the signal) per reply
    connect(query.client, &NtpClient::replyReceived, this, [&](const QHostAddress &, ushort, const NtpReply &reply) {
        order << QStringLiteral("reply");
        readings.emplace_back(query.time().rxTime(), reply.receiveTime);
    });
    connect(query.request.get(), &TimeRequest::finishedSignal, this, [&] { order << QStringLiteral("finished"); });

    QTRY_COMPARE_WITH_TIMEOUT(query.finished.size(), 2, kWaitMs);
    QCOMPARE(query.replies.size(), 2);
    QCOMPARE(order, QStringList({"reply", "finished", "reply", "finished"}));
    QCOMPARE(packetBytes(query.replies.at(0).at(2).value<NtpReply>()), expectedPacket(first));
    QCOMPARE(packetBytes(query.replies.at(1).at(2).value<NtpReply>()), expectedPacket(second));
    QCOMPARE(query.time().txTime(), Time(2000 * kMs)); // the second one is kept
    for (const auto &[stored, signalled] : readings)
        QVERIFY(signalled >= stored);
    QVERIFY(readings.at(1).first >= readings.at(0).first);
}

void tst_NtpClient::keepsListeningAfterAReply()
{
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    Query query("127.0.0.1", responder.port());
    QVERIFY(query.finished.wait(kWaitMs));
    const Time firstReceipt = query.time().rxTime();

    // Not an answer to anything: still taken as a reply, from any sender.
    QUdpSocket stranger;
    const QByteArray late = replyWithTransmit(0x83AA7E8300000000u);
    QCOMPARE(stranger.writeDatagram(late, QHostAddress::LocalHost, responder.requests().constFirst().senderPort),
             qint64(late.size()));
    QTRY_COMPARE_WITH_TIMEOUT(query.finished.size(), 2, kWaitMs);
    QCOMPARE(query.time().txTime(), Time(3000 * kMs));
    QVERIFY(query.time().rxTime() >= firstReceipt);
    QCOMPARE(query.replies.constLast().at(1).value<ushort>(), stranger.localPort());
    QCOMPARE(responder.requests().size(), 1); // no second request was ever sent
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
        delete request.data(); // a host may drop the request the moment it has its answer
    });
    QTRY_VERIFY_WITH_TIMEOUT(request.isNull(), kWaitMs);
    QCOMPARE(finished, 1);
    // The port is free again at once.
    QVERIFY(holdPort(kFirstPort));
}

void tst_NtpClient::bindsTheNextFreePort_data()
{
    QTest::addColumn<QList<quint16>>("held");
    QTest::addColumn<quint16>("expected");
    QTest::newRow("none-held-binds-42912") << QList<quint16>{} << quint16(42912);
    QTest::newRow("42912-held-binds-42913") << QList<quint16>{42912} << quint16(42913);
    QTest::newRow("42912-and-42913-held-binds-42914") << QList<quint16>{42912, 42913} << quint16(42914);
    QTest::newRow("only-42913-held-binds-42912") << QList<quint16>{42913} << quint16(42912);
}

void tst_NtpClient::bindsTheNextFreePort()
{
    QFETCH(QList<quint16>, held);
    QFETCH(quint16, expected);
    std::vector<std::unique_ptr<QUdpSocket>> holders;
    for (quint16 port : held) {
        holders.push_back(holdPort(port));
        QVERIFY2(holders.back(), qPrintable(QStringLiteral("port %1 is in use outside this test").arg(port)));
    }
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    Query query("127.0.0.1", responder.port());
    QVERIFY(query.finished.wait(kWaitMs));
    QCOMPARE(responder.requests().size(), 1);
    QCOMPARE(responder.requests().constFirst().senderPort, expected);
    QCOMPARE(socketOf(*query.client)->localPort(), expected);
    QCOMPARE(query.errors.size(), 0);
}

void tst_NtpClient::allPortsTakenReportsAndSendsNothing()
{
    std::vector<std::unique_ptr<QUdpSocket>> holders;
    for (quint16 port : {42912, 42913, 42914}) {
        holders.push_back(holdPort(port));
        QVERIFY2(holders.back(), qPrintable(QStringLiteral("port %1 is in use outside this test").arg(port)));
    }
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    Query query("127.0.0.1", responder.port());
    QVERIFY(query.errors.wait(kWaitMs));
    QCOMPARE(query.errors.size(), 1);
    QCOMPARE(query.errors.constFirst().constFirst().toInt(), 0);
    QVERIFY(fence(responder));
    QCOMPARE(requestsBeforeFence(responder), 0);
    QCOMPARE(query.finished.size(), 0);
    QCOMPARE(socketOf(*query.client)->state(), QAbstractSocket::UnconnectedState); // the last, unbound attempt
}

void tst_NtpClient::lookupResultsThatFail_data()
{
    QTest::addColumn<QHostInfo>("info");
    QHostInfo notFound;
    notFound.setError(QHostInfo::HostNotFound);
    notFound.setAddresses({QHostAddress(QHostAddress::LocalHost)}); // an error wins over any address
    QTest::newRow("host-not-found") << notFound;
    QHostInfo unknown;
    unknown.setError(QHostInfo::UnknownError);
    QTest::newRow("unknown-error") << unknown;
    QTest::newRow("no-error-but-no-address") << QHostInfo();
}

void tst_NtpClient::lookupResultsThatFail()
{
    QFETCH(QHostInfo, info);
    NtpClient client;
    QSignalSpy errors(&client, &TimeRequest::errorOccurredSignal);
    QSignalSpy finished(&client, &TimeRequest::finishedSignal);
    complete(client, info, 123);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.constFirst().constFirst().toInt(), 0);
    QCOMPARE(finished.size(), 0);
    QVERIFY(!socketOf(client)); // nothing was bound
}

void tst_NtpClient::onlyTheFirstAddressIsTried()
{
    NtpResponder first;
    NtpResponder second;
    QVERIFY2(first.listen(QHostAddress(QHostAddress::LocalHostIPv6)), qPrintable(first.errorString()));
    // The same port number on the other address, so that a send to the second address would arrive.
    QVERIFY2(second.listen(QHostAddress(QHostAddress::LocalHost), first.port()), qPrintable(second.errorString()));
    first.staySilent();
    QHostInfo info;
    info.setAddresses({first.address(), second.address()});

    NtpClient client;
    QSignalSpy errors(&client, &TimeRequest::errorOccurredSignal);
    complete(client, info, first.port());
    QTRY_COMPARE_WITH_TIMEOUT(first.requests().size(), 1, kWaitMs);
    QVERIFY(fence(second));
    QCOMPARE(requestsBeforeFence(second), 0);
    QCOMPARE(errors.size(), 0);
}

void tst_NtpClient::refusedSendIsReportedOnce()
{
    // Port 0 cannot be a destination: the bound socket refuses the datagram and says so.
    Query query("127.0.0.1", 0);
    QVERIFY(query.errors.wait(kWaitMs));
    QCOMPARE(query.errors.constFirst().constFirst().toInt(), 0);
    QVERIFY(socketOf(*query.client)->isValid());
    QCOMPARE(query.errors.size(), 1);
    QCOMPARE(query.finished.size(), 0);
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
        Query query(host, responder.port());
        QVERIFY(!socketOf(*query.client));
    }
    // A later lookup of the same name completes after the abandoned one would have.
    bool probed = false;
    QHostInfo::lookupHost(QString::fromLatin1(host), this, [&](const QHostInfo &) { probed = true; });
    QTRY_VERIFY_WITH_TIMEOUT(probed, kWaitMs);
    QCoreApplication::processEvents();

    QVERIFY(fence(responder));
    QCOMPARE(requestsBeforeFence(responder), 0);
    QVERIFY(holdPort(kFirstPort)); // nothing bound on behalf of the destroyed client
}

void tst_NtpClient::destroyingTheClientFreesItsPort()
{
    NtpResponder responder;
    QVERIFY2(responder.listen(), qPrintable(responder.errorString()));
    responder.staySilent();
    auto query = std::make_unique<Query>("127.0.0.1", responder.port());
    QTRY_COMPARE_WITH_TIMEOUT(responder.requests().size(), 1, kWaitMs);
    QVERIFY(!holdPort(kFirstPort));
    query.reset();
    QVERIFY(holdPort(kFirstPort));
}

QTEST_GUILESS_MAIN(tst_NtpClient)
#include "tst_ntpclient.moc"
