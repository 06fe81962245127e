#include "time/ntpclient.h"

#include <QHostInfo>
#include <QUdpSocket>

// Placeholder so that the foundation links; the network-time work replaces it.
namespace ORVIK {

NtpClient::NtpClient()
{
    lastReply.receiveTime = Time();
}

NtpClient::~NtpClient()
{
    delete socket;
}

Time NtpClient::serverTime() const
{
    return Time();
}

Time NtpClient::txTime() const
{
    return Time();
}

Time NtpClient::rxTime() const
{
    return lastReply.receiveTime;
}

void NtpClient::readPendingDatagrams()
{}

void NtpClient::lookupCompleted(const QHostInfo &, uint16_t, uint16_t)
{
    Q_EMIT errorOccurredSignal(0);
}

bool NtpClient::bindSocket(const QHostAddress &, uint16_t)
{
    return false;
}

bool NtpClient::sendRequest(const QHostAddress &, uint16_t)
{
    return false;
}

} // namespace ORVIK
