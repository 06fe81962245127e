#pragma once

#include <QHostAddress>

namespace ORVIK {

// A connected UDP socket of the system's own, not Qt's: Qt passes an ICMP error on a UDP socket over
// without a word, and on Windows reads it away before anyone can see it. One file per system
// (probesocket_unix.cpp, probesocket_win.cpp).
class ProbeSocket
{
public:
    // What an error of the system says of the address.
    enum class Reach {
        Unknown, // nothing yet, a datagram after all, or an error that says nothing of the address
        Refused, // ICMP port unreachable
        HostUnreachable,
        NetworkUnreachable,
    };

    ProbeSocket() = default;
    ProbeSocket(const ProbeSocket &) = delete;
    ProbeSocket &operator=(const ProbeSocket &) = delete;
    ~ProbeSocket();

    // Opens a non-blocking socket, connects it to the address and sends it one empty datagram. What an
    // error of either step says (the socket is closed then), else Unknown: the datagram left.
    Reach send(const QHostAddress &address, quint16 port);
    bool isOpen() const { return m_descriptor != kNoSocket; }
    // What came back so far. The socket is closed once something did: an error that says something of
    // the address, or a datagram.
    Reach pending();

private:
    static constexpr qintptr kNoSocket = -1;

    void close();

    qintptr m_descriptor = kNoSocket;
};

} // namespace ORVIK
