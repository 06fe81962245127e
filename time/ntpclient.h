#pragma once

#include "host/widgets/timerequest.h"
#include "time/ntpreply.h"

#include <QHostAddress>

#include <cstdint>

class QHostInfo;
class QUdpSocket;

namespace ORVIK {

class QtNetworkAccessManager;

// One NTP client-mode query over UDP.
class NtpClient : public TimeRequest
{
    Q_OBJECT
public:
    NtpClient();
    ~NtpClient() override;

    Time serverTime() const override;
    Time txTime() const override;
    Time rxTime() const override;

Q_SIGNALS:
    void replyReceived(QHostAddress address, ushort port, ORVIK::NtpReply reply);

private Q_SLOTS:
    void readPendingDatagrams();

private:
    friend class QtNetworkAccessManager;
    // Completion of the host lookup that the access manager starts.
    void lookupCompleted(const QHostInfo &info, uint16_t receivePort, uint16_t serverPort);
    bool bindSocket(const QHostAddress &address, uint16_t port);
    bool sendRequest(const QHostAddress &address, uint16_t port);

    NtpReply lastReply;
    QUdpSocket *socket = nullptr;
};

} // namespace ORVIK
