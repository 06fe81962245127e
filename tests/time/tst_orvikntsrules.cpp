#include "apps/orvik/ntp/ntsaead.h"
#include "apps/orvik/ntp/ntskerecords.h"
#include "apps/orvik/ntp/ntspacket.h"
#include "time/ntppacket.h"

#include <QTest>

#include <functional>
#include <optional>

using namespace ORVIK;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray u16(int value)
{
    QByteArray out;
    return out.append(char(value >> 8)).append(char(value & 0xFF));
}

// A key-exchange record, whose length counts its body.
QByteArray record(uint16_t type, const QByteArray &body)
{
    return u16(type) + u16(int(body.size())) + body;
}

// An NTP extension field, whose length counts its own four bytes as well.
QByteArray field(uint16_t type, const QByteArray &body)
{
    return u16(type) + u16(4 + int(body.size())) + body;
}

const QByteArray kNtpV4 = record(0x8001, u16(0));
const QByteArray kAead = record(0x8004, u16(15));
const QByteArray kEnd = record(0x8000, {});
const QByteArray kCookie = record(5, QByteArray(100, 'c'));

const QByteArray kC2s = QByteArray(32, '\x11');
const QByteArray kS2c = QByteArray(32, '\x22');
const QByteArray kUniqueId = QByteArray(32, '\x33');
const QByteArray kServerNonce = QByteArray(16, '\x44');
const QByteArray kTransmit = QByteArray::fromHex("a0a1a2a3a4a5a6a7"); // of our request

// An NTP header of `mode` and `stratum` with our request's transmit time at `offset`.
QByteArray ntpHeader(int mode, int stratum, int offset)
{
    QByteArray header(NtpPacket::kHeaderSize, '\0');
    header[0] = char(NtpPacket::firstByte(0, mode));
    header[NtpPacket::kStratumOffset] = char(stratum);
    return header.replace(offset, 8, kTransmit);
}

// How a test server answers: a reply header that echoes the request's transmit time, the request's
// unique identifier, and new cookies sealed with the S2C key. Each row changes one thing.
struct ReplyParts
{
    QByteArray header = ntpHeader(NtpPacket::kServerMode, 2, NtpPacket::kOriginOffset);
    QByteArray uniqueIdField = field(0x0104, kUniqueId);
    QByteArray encrypted = field(0x0204, QByteArray(100, 'n')) + field(0x0204, QByteArray(100, 'm')); // sealed
    QByteArray key = kS2c;
    bool withAuthenticator = true;
    QByteArray after; // fields after the authenticator
};

QByteArray seal(const ReplyParts &parts)
{
    QByteArray reply = parts.header + parts.uniqueIdField;
    if (!parts.withAuthenticator)
        return reply + parts.after;
    const std::optional<QByteArray> sealed = NtsAead::seal(parts.key, {reply, kServerNonce}, parts.encrypted);
    if (!sealed)
        return {};
    QByteArray body = u16(kServerNonce.size()) + u16(sealed->size()) + kServerNonce + *sealed;
    body.append((4 - body.size() % 4) % 4, '\0');
    return reply + field(0x0404, body) + parts.after;
}

NtsPacket::Request clientRequest()
{
    return NtsPacket::request(ntpHeader(NtpPacket::kClientMode, 0, NtpPacket::kTransmitOffset), QByteArray(100, 'c'),
                              kC2s, kUniqueId, QByteArray(16, '\x55'));
}

} // namespace

class tst_OrvikNtsRules : public QObject
{
    Q_OBJECT
private slots:
    void aeadVectors_data();
    void aeadVectors();
    void aeadRefusesChanges_data();
    void aeadRefusesChanges();
    void keyExchangeAnswer_data();
    void keyExchangeAnswer();
    void requestLayout();
    void replyChecks_data();
    void replyChecks();
};

void tst_OrvikNtsRules::aeadVectors_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QList<QByteArray>>("associated");
    QTest::addColumn<QByteArray>("plaintext");
    QTest::addColumn<QByteArray>("sealed");
    // RFC 5297, appendix A.1 (deterministic) and A.2 (two associated-data elements, then the nonce).
    QTest::newRow("rfc5297-a1") << hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff")
                                << QList<QByteArray>{hex("101112131415161718191a1b1c1d1e1f2021222324252627")}
                                << hex("112233445566778899aabbccddee")
                                << hex("85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c");
    QTest::newRow("rfc5297-a2")
        << hex("7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f")
        << QList<QByteArray>{hex("00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100"),
                             hex("102030405060708090a0"), hex("09f911029d74e35bd84156c5635688c0")}
        << hex("7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d414553")
        << hex("7bdb6e3b432667eb06f4d14bff2fbd0fcb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f748ba8af829ea64ad5"
               "44a272e9c485b62a3fd5c0d");
}

void tst_OrvikNtsRules::aeadVectors()
{
    QFETCH(QByteArray, key);
    QFETCH(QList<QByteArray>, associated);
    QFETCH(QByteArray, plaintext);
    QFETCH(QByteArray, sealed);
    const std::optional<QByteArray> ours = NtsAead::seal(key, associated, plaintext);
    QVERIFY(ours);
    QCOMPARE(ours->toHex(), sealed.toHex());
    const std::optional<QByteArray> opened = NtsAead::open(key, associated, sealed);
    QVERIFY(opened);
    QCOMPARE(*opened, plaintext);
}

using AeadChange = std::function<void(QByteArray &key, QList<QByteArray> &associated, QByteArray &sealed)>;

void tst_OrvikNtsRules::aeadRefusesChanges_data()
{
    QTest::addColumn<AeadChange>("change");
    const auto row = [](const char *name, const AeadChange &change) { QTest::newRow(name) << change; };
    row("a-bit-of-the-tag", [](auto &, auto &, auto &s) { s[0] = char(s[0] ^ 1); });
    row("a-bit-of-the-ciphertext", [](auto &, auto &, auto &s) { s[20] = char(s[20] ^ 0x80); });
    row("a-byte-of-the-header", [](auto &, auto &a, auto &) { a[0][3] = 'x'; });
    row("another-nonce", [](auto &, auto &a, auto &) { a[1][0] = 'x'; });
    // The elements are authenticated one by one: the same bytes split otherwise are another message.
    row("header-and-nonce-joined", [](auto &, auto &a, auto &) { a = {a[0] + a[1]}; });
    row("elements-swapped", [](auto &, auto &a, auto &) { a.swapItemsAt(0, 1); });
    row("another-key", [](auto &k, auto &, auto &) { k[31] = 'x'; });
    row("cut-short", [](auto &, auto &, auto &s) { s.chop(1); });
    row("shorter-than-a-tag", [](auto &, auto &, auto &s) { s = s.left(15); });
    row("a-key-of-16-bytes", [](auto &k, auto &, auto &) { k = k.left(16); });
}

void tst_OrvikNtsRules::aeadRefusesChanges()
{
    QFETCH(AeadChange, change);
    QByteArray key(32, '\x07');
    QList<QByteArray> associated{QByteArray(48, '\x23'), QByteArray(16, '\x09')};
    const std::optional<QByteArray> sealed = NtsAead::seal(key, associated, QByteArray("cookies, cookies"));
    QVERIFY(sealed);
    QVERIFY(NtsAead::open(key, associated, *sealed));
    QByteArray changed = *sealed;
    change(key, associated, changed);
    QVERIFY(!NtsAead::open(key, associated, changed));
}

void tst_OrvikNtsRules::keyExchangeAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("status"); // 0 incomplete, 1 complete, 2 refused
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("cookies");
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("port"); // -1: none named

    const auto row = [](const char *name, const QByteArray &answer, int status, int cookies = 0,
                        const char *server = "", int port = -1) {
        QTest::newRow(name) << answer << status << QString() << cookies << QString(server) << port;
    };
    // A whole answer with `more` between the AEAD algorithm and the cookie.
    const auto with = [](const QByteArray &more) { return kNtpV4 + kAead + more + kCookie + kEnd; };
    const QByteArray whole = with(kCookie);
    row("chrony-like", whole, 1, 2);
    row("server-and-port", with(record(0x8006, "time.example") + record(0x8007, u16(1234))), 1, 1, "time.example",
        1234);
    row("server-as-an-address", with(record(6, "::1")), 1, 1, "::1");
    row("not-critical-unknown-is-ignored", kNtpV4 + record(0x4321, "x") + kAead + kCookie + kEnd, 1, 1);
    row("nine-cookies-keep-eight", with(kCookie.repeated(8)), 1, 8);
    for (int cut : {0, 1, 3, 4, 10, int(whole.size()) - 1})
        row(qPrintable(QStringLiteral("cut-at-%1").arg(cut)), whole.left(cut), 0);
    // A length that runs past what came so far is a record still arriving.
    row("length-past-the-end", kNtpV4 + QByteArray("\x00\x05\xff\xff", 4), 0);

    const auto refused = [](const char *name, const QByteArray &answer, const char *reason) {
        QTest::newRow(name) << answer << 2 << QString::fromLatin1(reason) << 0 << QString() << -1;
    };
    const char *noHost = "neither a host name nor an address";
    const char *noPort = "it names an NTP port that is not one";
    refused("error-record", kNtpV4 + record(0x8002, u16(1)) + kEnd, "it reports an error: bad request");
    refused("warning-record", with(record(0x8003, u16(7))), "it sends a warning (7)");
    refused("other-next-protocol", record(0x8001, u16(1)) + kAead + kCookie + kEnd,
            "it does not agree to NTPv4 as the next protocol");
    refused("two-next-protocols", record(0x8001, u16(0) + u16(1)) + kAead + kCookie + kEnd,
            "it does not agree to NTPv4");
    refused("next-protocol-twice", kNtpV4 + kNtpV4 + kAead + kCookie + kEnd, "it names the next protocol twice");
    refused("no-next-protocol", kAead + kCookie + kEnd, "it names no next protocol");
    refused("other-aead", kNtpV4 + record(0x8004, u16(30)) + kCookie + kEnd,
            "it does not agree to AEAD_AES_SIV_CMAC_256");
    refused("no-aead", kNtpV4 + kCookie + kEnd, "it names no AEAD algorithm");
    refused("no-cookie", kNtpV4 + kAead + kEnd, "it sends no cookie");
    refused("empty-cookie", kNtpV4 + kAead + record(5, {}) + kEnd, "it sends a cookie of 0 bytes");
    refused("cookie-too-big", kNtpV4 + kAead + record(5, QByteArray(1025, 'c')) + kEnd,
            "it sends a cookie of 1025 bytes");
    refused("critical-unknown", with(record(0x8040, {})), "it sends a critical record of unknown type 64");
    refused("port-zero", with(record(7, u16(0))), noPort);
    refused("port-of-three-bytes", with(record(7, "abc")), noPort);
    refused("server-with-a-newline", with(record(6, "evil\nline")), noHost);
    refused("server-empty", with(record(6, {})), noHost);
    refused("bytes-after-the-end", whole + "x", "it sends more after its end-of-message record");
    refused("end-with-a-body", kNtpV4 + kAead + kCookie + record(0x8000, "x"), "its end-of-message record has a body");
    refused("endless-answer", kNtpV4 + record(0x4321, QByteArray(NtsKeRecords::kMaximumAnswerSize, 'x')),
            "its answer is longer than");
}

void tst_OrvikNtsRules::keyExchangeAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(int, cookies);
    QFETCH(QString, server);
    QFETCH(int, port);
    const NtsKeRecords::Parsed parsed = NtsKeRecords::parse(answer);
    QCOMPARE(int(parsed.status), status);
    QVERIFY2(parsed.reason.startsWith(reason) || (!reason.isEmpty() && parsed.reason.contains(reason)),
             qPrintable(parsed.reason));
    if (status != 1)
        return;
    QCOMPARE(parsed.answer.cookies.size(), cookies);
    QCOMPARE(parsed.answer.cookies.first(), QByteArray(answer.contains(kCookie) ? 100 : 0, 'c'));
    QCOMPARE(parsed.answer.server, server);
    QCOMPARE(parsed.answer.port ? int(*parsed.answer.port) : -1, port);
}

void tst_OrvikNtsRules::requestLayout()
{
    // Of the key exchange: NTPv4 and AEAD_AES_SIV_CMAC_256, both critical, then the end.
    QCOMPARE(NtsKeRecords::request().toHex(), QByteArray("80010002000080040002000f80000000"));
    const NtsPacket::Request request = clientRequest();
    const QByteArray &datagram = request.datagram;
    // Header, unique identifier (36), cookie (104), authenticator (4 + 4 lengths + 16 nonce + 16 tag + 104
    // sealed placeholder): every field a multiple of 4 bytes.
    QCOMPARE(datagram.size(), 48 + 36 + 104 + 4 + 4 + 16 + 16 + 104);
    QCOMPARE(datagram.mid(48, 4).toHex(), QByteArray("01040024"));
    QCOMPARE(datagram.mid(52, 32), kUniqueId);
    QCOMPARE(datagram.mid(84, 4).toHex(), QByteArray("02040068"));
    QCOMPARE(datagram.mid(88, 100), QByteArray(100, 'c'));
    const int auth = 188;
    QCOMPARE(datagram.mid(auth, 4).toHex(), QByteArray("04040090"));
    QCOMPARE(datagram.mid(auth + 4, 4).toHex(), QByteArray("00100078"));
    const QByteArray nonce = datagram.mid(auth + 8, 16);
    // The server opens it with the C2S key, the header and fields before the authenticator, then the nonce.
    const std::optional<QByteArray> opened = NtsAead::open(kC2s, {datagram.left(auth), nonce}, datagram.mid(auth + 24));
    QVERIFY(opened);
    QCOMPARE(opened->left(4).toHex(), QByteArray("03040068"));
    QVERIFY(!NtsAead::open(kS2c, {datagram.left(auth), nonce}, datagram.mid(auth + 24)));
}

using ReplyChange = std::function<void(ReplyParts &)>;
using SealedChange = std::function<void(QByteArray &reply)>;

void tst_OrvikNtsRules::replyChecks_data()
{
    QTest::addColumn<ReplyChange>("change");
    QTest::addColumn<SealedChange>("afterSealing");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("cookies");
    using Kind = NtsPacket::Verdict::Kind;
    const auto row = [](const char *name, Kind kind, const char *reason, int cookies, const ReplyChange &change,
                        const SealedChange &afterSealing = {}) {
        QTest::newRow(name) << change << afterSealing << int(kind) << QString::fromLatin1(reason) << cookies;
    };
    const ReplyChange asSealed = [](ReplyParts &) {};
    const auto after = [](const QByteArray &fields) {
        return ReplyChange([fields](ReplyParts &p) { p.after = fields; });
    };
    const char *malformed = "its extension fields are malformed";
    const char *notEchoed = "it does not echo our unique identifier";
    const char *notServers = "it does not authenticate with the server's key";
    const auto nak = [](ReplyParts &p) {
        p.header[1] = 0;
        p.header.replace(NtpPacket::kReferenceIdOffset, 4, "NTSN");
        p.withAuthenticator = false;
    };
    row("honest", Kind::Authentic, "", 2, asSealed);
    row("another-identifier", Kind::Stray, notEchoed, 0, [](ReplyParts &p) { p.uniqueIdField[10] = 'x'; });
    row("no-identifier", Kind::Stray, notEchoed, 0, [](ReplyParts &p) { p.uniqueIdField.clear(); });
    row("two-identifiers", Kind::Forged, "it carries two unique identifiers", 0,
        [](ReplyParts &p) { p.uniqueIdField += p.uniqueIdField; });
    // Sealed by the server as it is, so only the origin check can catch it.
    row("origin-not-our-transmit", Kind::Stray, "its origin timestamp is not our request's transmit timestamp", 0,
        [](ReplyParts &p) { p.header[NtpPacket::kOriginOffset + 7] = 1; });
    row("no-authenticator", Kind::Forged, "it has no NTS authenticator", 0,
        [](ReplyParts &p) { p.withAuthenticator = false; });
    row("sealed-with-the-c2s-key", Kind::Forged, notServers, 0, [](ReplyParts &p) { p.key = kC2s; });
    row("header-changed-after-sealing", Kind::Forged, notServers, 0, asSealed,
        [](QByteArray &r) { r[NtpPacket::kTransmitOffset] = char(r[NtpPacket::kTransmitOffset] ^ 1); });
    row("field-after-the-authenticator", Kind::Forged, "extension fields follow its authenticator", 0,
        after(field(0x0204, QByteArray(8, 'z'))));
    row("field-length-not-a-multiple-of-4", Kind::Forged, malformed, 0, after(QByteArray("\x02\x04\x00\x06xx", 6)));
    row("field-longer-than-the-datagram", Kind::Forged, malformed, 0, after(QByteArray("\x02\x04\x01\x00", 4)));
    row("field-length-below-its-header", Kind::Forged, malformed, 0, after(QByteArray("\x02\x04\x00\x00", 4)));
    row("three-stray-bytes", Kind::Forged, malformed, 0, after(QByteArray("\x02\x04\x00", 3)));
    // The sealed length, now far longer than the field.
    row("authenticator-lengths-past-its-body", Kind::Forged, "its authenticator is malformed", 0, asSealed,
        [](QByteArray &r) { r[NtpPacket::kHeaderSize + 36 + 6] = char(0x7F); });
    row("ntsn", Kind::NtsNak, "kiss-o'-death NTSN: the server does not take our cookie", 0, nak);
    row("ntsn-for-another-request", Kind::Stray, notEchoed, 0, [nak](ReplyParts &p) {
        nak(p);
        p.uniqueIdField[0] = 'x';
    });
    row("encrypted-fields-malformed", Kind::Forged, "its encrypted extension fields are malformed", 0,
        [](ReplyParts &p) { p.encrypted = QByteArray("\x02\x04\x00\x09", 4); });
    row("cookies-outside-the-encryption-are-not-taken", Kind::Authentic, "", 1, [](ReplyParts &p) {
        p.uniqueIdField += field(0x0204, QByteArray(8, 'p'));
        p.encrypted = field(0x0204, QByteArray(100, 'n'));
    });
    row("at-most-eight-cookies", Kind::Authentic, "", 8,
        [](ReplyParts &p) { p.encrypted = field(0x0204, QByteArray(16, 'n')).repeated(12); });
    row("shorter-than-a-header", Kind::Stray, "it is shorter than an NTP header", 0, asSealed,
        [](QByteArray &r) { r = QByteArray(47, '\x24'); });
}

void tst_OrvikNtsRules::replyChecks()
{
    QFETCH(ReplyChange, change);
    QFETCH(SealedChange, afterSealing);
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QFETCH(int, cookies);
    const NtsPacket::Request request = clientRequest();
    QVERIFY(!request.datagram.isEmpty());
    ReplyParts parts;
    change(parts);
    QByteArray reply = seal(parts);
    QVERIFY(!reply.isEmpty());
    if (afterSealing)
        afterSealing(reply);
    const NtsPacket::Verdict verdict = NtsPacket::verify(reply, request, kS2c);
    QVERIFY2(int(verdict.kind) == kind, qPrintable(verdict.reason));
    QCOMPARE(verdict.reason, reason);
    QCOMPARE(verdict.newCookies.size(), cookies);
    for (const QByteArray &cookie : verdict.newCookies)
        QVERIFY(cookie.startsWith('n') || cookie.startsWith('m'));
}

QTEST_GUILESS_MAIN(tst_OrvikNtsRules)
#include "tst_orvikntsrules.moc"
