#pragma once

#include "apps/orvik/ntp/ntspacket.h"
#include "apps/orvik/ntp/timeexchange.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <memory>

namespace ORVIK {

struct NtsSession;

// One NTS-protected request (RFC 8915) on a UDP socket of its own: the module's client sends only the
// plain 48-byte request. A reply is used only when it echoes our unique identifier and our transmit
// time and authenticates with the server's key; anything else is passed over (its reason kept) while
// the real reply may still come. The cookie spent comes from the session's pool, and the new cookies of
// an authentic reply go back into it.
class NtsExchange : public TimeExchange
{
    Q_OBJECT
public:
    explicit NtsExchange(QObject *parent = nullptr);
    ~NtsExchange() override;

    bool authenticated() const noexcept override { return true; }

    // Asks address:port once; finished() follows later, from the event loop. Call once.
    void start(const std::shared_ptr<NtsSession> &session, const QHostAddress &address, uint16_t port, int timeoutMs);

private:
    void readReplies();
    void take(const QByteArray &datagram, int64_t received);
    void fail(const QString &why);

    std::shared_ptr<NtsSession> m_session;
    QUdpSocket m_socket;
    QHostAddress m_address;
    uint16_t m_port = 0;
    NtsPacket::Request m_request;
};

} // namespace ORVIK
