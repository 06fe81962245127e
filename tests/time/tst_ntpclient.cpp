#include "loopback/ntpresponder.h"
#include "network/qtnetworkaccessmanager.h"
#include "tests/ntpports.h"
#include "tests/wine.h"
#include "time/ntpclient.h"
#include "time/ntppacket.h"
#include "time/ntptimestamp.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using namespace ORVIK;

extern "C" void ORVIKNetworkSetupMetatypesForORVIK();

namespace {

constexpr int kWaitMs = 10000;
constexpr qint64 kMs = 1000000;
constexpr quint16 kFirstPort = 42912;
// A socket that shares its port and asks to share others' (SO_REUSEADDR everywhere): on Windows it
// may bind a port that another socket holds without SO_EXCLUSIVEADDRUSE.
constexpr QUdpSocket::BindMode kSharing = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
constexpr qint64 kNtpEpochNs = -2208988800000000000;
const QHostAddress kIPv4(QHostAddress::LocalHost);
const QHostAddress kIPv6(QHostAddress::LocalHostIPv6);

QByteArray packetOf(const QList<QVariant> &replyReceived)
{
    return QByteArray(reinterpret_cast<const char *>(replyReceived.at(2).value<NtpReply>().packet), NtpPacket::kSize);
}

Time transmitTimeOf(const QByteArray &packet)
{
    return NtpTimestamp::read(reinterpret_cast<const uint8_t *>(packet.constData()) + 40).toTime();
}

// One time request made the way the host makes it, with a spy on its replies.
struct Query
{
    Query(const QByteArray &host, quint16 port)
        : request(manager.createTimeRequest(StringView(host.constData(), uint32_t(host.size())), port)),
          client(qobject_cast<NtpClient *>(request.get())), replies(client, &NtpClient::replyReceived)
    {}
    QtNetworkAccessManager manager;
    std::unique_ptr<TimeRequest> request;
    NtpClient *client;
    QSignalSpy replies;
};

// Sends a marker from a socket of the test and waits until the responder has it, so that whatever reached
// the responder before has been recorded; returns how many datagrams came before the marker.
int countBeforeFence(NtpResponder &responder)
{
    QUdpSocket probe;
    probe.writeDatagram(QByteArrayLiteral("fence"), responder.address(), responder.port());
    const bool fenced = QTest::qWaitFor(
        [&] { return !responder.requests().isEmpty() && responder.requests().constLast().data() == "fence"; }, kWaitMs);
    return fenced ? int(responder.requests().size()) - 1 : -1;
}

enum class Way { Both, Read, Write, Exact };

} // namespace

class tst_NtpClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void metaTypesAreRegisteredByTheHook();
    void conversion_data();
    void conversion();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void repliesOfOneBurst_data();
    void repliesOfOneBurst();
    void destroyedWhileLookupPending_data();
    void destroyedWhileLookupPending();
};

void tst_NtpClient::init()
{
    const QByteArray function(QTest::currentTestFunction());
    if (function != "metaTypesAreRegisteredByTheHook" && function != "conversion")
        ORVIK_SKIP_WITHOUT_NTP_PORTS();
}

void tst_NtpClient::metaTypesAreRegisteredByTheHook()
{
    // Runs first: no client has been created yet.
    ORVIKNetworkSetupMetatypesForORVIK();
    QCOMPARE(QMetaType::fromName("ORVIK::NtpReply"), QMetaType::fromType<NtpReply>());
    QCOMPARE(QMetaType::fromName("ORVIK::Time"), QMetaType::fromType<Time>());
}

void tst_NtpClient::conversion_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<quint32>("fraction");
    QTest::addColumn<qint64>("nanoseconds");
    QTest::addColumn<Way>("way");     // reading the timestamp gives the time, writing the time gives the timestamp
                                      // (Exact: at full resolution, in the era nearest to the time)
    const quint32 y1970 = 0x83AA7E80; // 1970-01-01 in NTP seconds
    QTest::newRow("half-a-second-after-1970") << y1970 << 0x80000000u << 500 * kMs << Way::Both;
    QTest::newRow("all-zero-is-the-ntp-epoch") << 0u << 0u << kNtpEpochNs << Way::Read;
    QTest::newRow("123ms-goes-out-as-0x1F7CED91") << y1970 << 0x1F7CED91u << 123 * kMs << Way::Write;
    QTest::newRow("0x1F7CED91-reads-back-as-122ms") << y1970 << 0x1F7CED91u << 122 * kMs << Way::Read;
    QTest::newRow("sub-millisecond-part-is-cut") << y1970 << 0x1F7CED91u << 123 * kMs + 999999 << Way::Write;
    QTest::newRow("end-of-era-0") << 0xFFFFFFFFu << 0u << qint64(0xFFFFFFFF) * 1000 * kMs + kNtpEpochNs << Way::Read;
    // The NTP seconds field wraps in February 2036 (era 1 starts at 0 again).
    QTest::newRow("era-1-wraps-the-seconds")
        << 5u << 0u << (qint64(0x100000000) - y1970 + 5) * 1000 * kMs << Way::Write;
    QTest::newRow("full-resolution-in-era-1")
        << 5u << 0x80000000u << (qint64(0x100000000) - y1970 + 5) * 1000 * kMs + 500 * kMs << Way::Exact;
}

void tst_NtpClient::conversion()
{
    QFETCH(quint32, seconds);
    QFETCH(quint32, fraction);
    QFETCH(qint64, nanoseconds);
    QFETCH(Way, way);
    if (way == Way::Exact) {
        QCOMPARE(NtpTimestamp(seconds, fraction).toNanoseconds(nanoseconds), nanoseconds);
        QCOMPARE(NtpTimestamp::fromNanoseconds(nanoseconds), NtpTimestamp(seconds, fraction));
        return;
    }
    if (way != Way::Write)
        QCOMPARE(NtpTimestamp(seconds, fraction).toTime().nanoseconds(), nanoseconds);
    const NtpTimestamp stamp = NtpTimestamp::fromTime(Time(nanoseconds));
    QVERIFY(way == Way::Read || (stamp.seconds() == seconds && stamp.fraction() == fraction));
}

void tst_NtpClient::requestOnTheWire_data()
{
    QTest::addColumn<QHostInfo>("info"); // the lookup's result
    QTest::addColumn<int>("held");       // ports held by other sockets, from 42912 on
    QTest::addColumn<int>("port");       // that the request comes from; 0: none, an error instead
    QTest::addColumn<QString>("reason"); // that the client gives for the error
    QHostInfo notFound;
    notFound.setHostName(QStringLiteral("nowhere.invalid"));
    notFound.setError(QHostInfo::HostNotFound);
    notFound.setErrorString(QStringLiteral("Host not found"));
    notFound.setAddresses({kIPv4}); // an error wins over any address
    QHostInfo empty;
    empty.setHostName(QStringLiteral("empty.invalid"));
    QHostInfo ipv4;
    ipv4.setAddresses({kIPv4});
    QHostInfo ipv6First;
    ipv6First.setAddresses({kIPv6, kIPv4});
    QTest::newRow("host-not-found") << notFound << 0 << 0
                                    << QStringLiteral("cannot resolve nowhere.invalid: Host not found");
    QTest::newRow("no-error-but-no-address") << empty << 0 << 0 << QStringLiteral("empty.invalid has no address");
    QTest::newRow("ipv6-first-of-two-addresses-only-it-is-tried") << ipv6First << 0 << 42912 << QString();
    QTest::newRow("42912-and-42913-held-binds-42914") << ipv4 << 2 << 42914 << QString();
    QTest::newRow("all-three-held-fails-and-sends-nothing")
        << ipv4 << 3 << 0 << QStringLiteral("local UDP ports 42912 to 42914 are all in use");
}

void tst_NtpClient::requestOnTheWire()
{
    QFETCH(QHostInfo, info);
    QFETCH(int, held);
    QFETCH(int, port);
    QFETCH(QString, reason);
    // As another program may hold them: sharing, which the client must not join.
    QUdpSocket holders[3];
    for (int i = 0; i < held; ++i)
        QVERIFY2(holders[i].bind(QHostAddress::Any, kFirstPort + i, kSharing), "port in use");
    // Silent servers with the same port number on both addresses, so a send to either would arrive.
    NtpResponder servers[2];
    QVERIFY(servers[0].listen(kIPv6));
    QVERIFY(servers[1].listen(kIPv4, servers[0].port()));
    for (NtpResponder &server : servers)
        server.setScript(nullptr);
    NtpClient client;
    QSignalSpy errors(&client, &TimeRequest::errorOccurredSignal);
    const qint64 before = Time::SystemTime().nanoseconds();
    client.lookupCompleted(info, kFirstPort, servers[0].port());
    const qint64 after = Time::SystemTime().nanoseconds();
    QCOMPARE(errors.size(), port == 0 ? 1 : 0);
    if (port == 0)
        QCOMPARE(errors.constFirst().constFirst().toInt(), 0);
    QCOMPARE(client.property("failureReason").toString(), reason);
    const int target = port == 0 ? -1 : info.addresses().constFirst() == kIPv6 ? 0 : 1;
    QCOMPARE(countBeforeFence(servers[0]), target == 0 ? 1 : 0);
    QCOMPARE(countBeforeFence(servers[1]), target == 1 ? 1 : 0);
    QCOMPARE(static_cast<TimeRequest &>(client).rxTime(), Time()); // no reply yet
    if (port == 0)
        return;

    const QNetworkDatagram &request = servers[target].requests().constFirst();
    QCOMPARE(request.senderPort(), port);
    // Nobody takes the port over while the client waits for its reply, however they ask.
    QUdpSocket thief;
    QVERIFY(!thief.bind(QHostAddress::Any, quint16(port), kSharing));
    QCOMPARE(request.data(), QByteArray(1, 0x23) + QByteArray(39, '\0') + request.data().mid(40, 8));
    // The stamp on the wire is cut from the reading the client offers, taken before the one after the send.
    const qint64 stamped = client.property("stampClockReading").toLongLong();
    const qint64 sent = client.property("sentClockReading").toLongLong();
    QVERIFY(before <= stamped && stamped <= sent && sent <= after);
    QCOMPARE(NtpResponder::timestampAt(request.data(), NtpPacket::kTransmitOffset),
             NtpTimestamp::fromTime(Time(stamped)).bits());
}

void tst_NtpClient::repliesOfOneBurst_data()
{
    QTest::addColumn<QHostAddress>("server");
    QTest::addColumn<int>("size");            // of the first datagram; a server reply follows in the same burst
    QTest::addColumn<bool>("deleteOnFinish"); // the receiver deletes the client, the rest of the burst unread
    QTest::newRow("47-bytes-dropped") << kIPv4 << 47 << false;
    QTest::newRow("48-bytes-key-and-digest-zero") << kIPv4 << 48 << false;
    QTest::newRow("100-bytes-first-68-kept-from-ipv6") << kIPv6 << 100 << false;
    QTest::newRow("receiver-deletes-the-client-at-the-first-reply") << kIPv4 << 48 << true;
}

void tst_NtpClient::repliesOfOneBurst()
{
    QFETCH(QHostAddress, server);
    QFETCH(int, size);
    QFETCH(bool, deleteOnFinish);
    if (size > NtpPacket::kSize && runningUnderWine())
        QSKIP("Wine's WSARecvFrom leaves the byte count of a truncated datagram unset (Windows gives the buffer's "
              "length), so Qt reads nothing of it");
    QByteArray datagram(size, '\0');
    for (int i = 0; i < size; ++i)
        datagram[i] = char(i % 250 + 1); // no zero byte, so that zero filling shows
    NtpResponder responder;
    QVERIFY(responder.listen(server));
    QByteArray reply;
    responder.setScript([&](const QByteArray &request) {
        // A server 3.5 s ahead, so that its times cannot pass for ours.
        const quint64 serverNow = NtpResponder::timestampFromNanoseconds(Time::SystemTime().nanoseconds() + 3500 * kMs);
        reply = NtpResponder::answer(request, serverNow, serverNow + 1234567);
        return QList<QByteArray>{datagram, reply};
    });
    auto query = std::make_unique<Query>(server.toString().toLatin1(), responder.port());
    QVERIFY(!query->client->socket); // nothing is bound before the lookup completes on the event loop
    QList<int> repliesAtFinish;      // each finish follows its own reply
    connect(query->client, &TimeRequest::finishedSignal, this, [&] {
        repliesAtFinish << int(query->replies.size());
        if (deleteOnFinish)
            query.reset();
    });
    QTRY_COMPARE_WITH_TIMEOUT(repliesAtFinish, size >= 48 && !deleteOnFinish ? QList<int>({1, 2}) : QList<int>({1}),
                              kWaitMs);
    if (deleteOnFinish)
        return; // and the reply left in the burst was not read by a deleted client
    const Time afterFinished = Time::SystemTime();
    if (size >= 48)
        QCOMPARE(packetOf(query->replies.constFirst()), datagram.left(68).leftJustified(68, '\0'));

    // The last reply is the one kept.
    QCOMPARE(query->request->serverTime(), transmitTimeOf(responder.requests().constFirst().data())); // the echo
    QCOMPARE(query->request->txTime(), transmitTimeOf(reply));
    QCOMPARE(responder.requests().constFirst().senderPort(), int(kFirstPort));
    QVERIFY(query->request->serverTime() <= query->request->rxTime() && query->request->rxTime() <= afterFinished);
    const QList<QVariant> &signalled = query->replies.constLast();
    QVERIFY(signalled.at(0).value<QHostAddress>().isEqual(server, QHostAddress::ConvertV4MappedToIPv4));
    QCOMPARE(signalled.at(1).value<ushort>(), responder.port());
    QCOMPARE(packetOf(signalled), reply + QByteArray(20, '\0'));
    // The signalled reply carries a second clock reading, taken after the stored one.
    const Time signalledTime = signalled.at(2).value<NtpReply>().receiveTime;
    QVERIFY(signalledTime >= query->request->rxTime() && signalledTime <= afterFinished);
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
    QVERIFY(responder.listen());
    {
        Query abandoned(host, responder.port()); // destroyed before its lookup can complete
    }
    // A later lookup of the same name completes after the abandoned one would have.
    bool probed = false;
    QHostInfo::lookupHost(QString::fromLatin1(host), this, [&](const QHostInfo &) { probed = true; });
    QTRY_VERIFY_WITH_TIMEOUT(probed, kWaitMs);
    QCOMPARE(countBeforeFence(responder), 0);
    QVERIFY(QUdpSocket().bind(QHostAddress::Any, kFirstPort, QUdpSocket::DontShareAddress)); // nothing was bound
}

QTEST_GUILESS_MAIN(tst_NtpClient)
#include "tst_ntpclient.moc"
