#pragma once

#include "host/widgets/timerequest.h"
#include "time/ntpreply.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QString>

#include <cstdint>

class QHostInfo;
class QUdpSocket;
class tst_NtpClient;

namespace ORVIK {

class QtNetworkAccessManager;

// One NTP client-mode query over UDP. After its host lookup it binds a local port, sends one
// request and then reports every datagram of at least 48 bytes on that port as a reply, until it
// is destroyed. It never retransmits and has no time-out: the caller decides how long to wait.
//
// The TimeRequest interface gives whole milliseconds and no reason for a failure. A host that wants
// more reads these properties by name: the last reply's datagram, the clock readings around the send
// (nanoseconds since 1970, -1 before the send) and, after errorOccurredSignal, a clause that says why.
class NtpClient : public TimeRequest
{
    Q_OBJECT
    Q_PROPERTY(QByteArray replyDatagram READ replyDatagram)
    Q_PROPERTY(qint64 stampClockReading READ stampClockReading)
    Q_PROPERTY(qint64 sentClockReading READ sentClockReading)
    Q_PROPERTY(QString failureReason READ failureReason)
public:
    NtpClient();
    ~NtpClient() override;

    // Registers NtpReply, Time and QHostAddress so that they can travel through queued
    // connections and signal spies. Safe to call any number of times.
    static void registerMetaTypes();

Q_SIGNALS:
    void replyReceived(QHostAddress address, ushort port, ORVIK::NtpReply reply);

private Q_SLOTS:
    void readPendingDatagrams();
    // TimeRequest's operations, also invokable through the meta-object. All give -1 before a reply.
    ORVIK::Time serverTime() const override; // the last reply's origin: our request's send time, as echoed
    ORVIK::Time rxTime() const override;     // the local time at which the last reply was read
    ORVIK::Time txTime() const override;     // the last reply's transmit time, by the server's clock

private:
    friend class QtNetworkAccessManager;
    friend class ::tst_NtpClient; // drives the lookup completion with results a resolver rarely gives

    // Completion of the host lookup that the access manager starts.
    void lookupCompleted(const QHostInfo &info, uint16_t receivePort, uint16_t serverPort);
    bool bindSocket(const QHostAddress &address, uint16_t port);
    bool sendRequest(const QHostAddress &address, uint16_t port);
    // Any failure of the bound socket ends the query; its kind is not passed on.
    void socketFailed(QAbstractSocket::SocketError error);
    void readDatagrams(const QPointer<NtpClient> &alive);
    void fail(const QString &reason);

    QByteArray replyDatagram() const;
    qint64 stampClockReading() const { return stampReading.nanoseconds(); }
    qint64 sentClockReading() const { return sentReading.nanoseconds(); }
    QString failureReason() const { return reason; }

    NtpReply lastReply;
    QUdpSocket *socket = nullptr;
    Time stampReading; // the clock reading that the request's stamp was cut from
    Time sentReading;  // read once the socket had taken the request
    QString reason;
    // Handlers of the socket's signals on the stack: the socket cannot be deleted at once then.
    int socketSignalDepth = 0;
};

} // namespace ORVIK
