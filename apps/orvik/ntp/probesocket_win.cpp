#include "apps/orvik/ntp/probesocket.h"

#include <cstring>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ORVIK {

namespace {

ProbeSocket::Reach reachOf(int error)
{
    switch (error) {
    // Windows tells a UDP socket of ICMP port unreachable as a reset (SIO_UDP_CONNRESET, on by default).
    case WSAECONNRESET:
    case WSAECONNREFUSED:
        return ProbeSocket::Reach::Refused;
    case WSAEHOSTUNREACH:
        return ProbeSocket::Reach::HostUnreachable;
    case WSAENETUNREACH:
    case WSAENETRESET:
        return ProbeSocket::Reach::NetworkUnreachable;
    default:
        return ProbeSocket::Reach::Unknown;
    }
}

SOCKET handleOf(qintptr descriptor)
{
    return SOCKET(descriptor);
}

} // namespace

ProbeSocket::~ProbeSocket()
{
    close();
}

void ProbeSocket::close()
{
    if (m_descriptor != kNoSocket)
        ::closesocket(handleOf(m_descriptor));
    m_descriptor = kNoSocket;
}

ProbeSocket::Reach ProbeSocket::send(const QHostAddress &target, quint16 port)
{
    sockaddr_storage address{};
    int size = 0;
    if (target.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(target.toIPv4Address());
        size = sizeof(sockaddr_in);
    } else {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = target.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        v6->sin6_scope_id = target.scopeId().toUInt();
        size = sizeof(sockaddr_in6);
    }
    const SOCKET socket = ::socket(address.ss_family, SOCK_DGRAM, 0);
    if (socket == INVALID_SOCKET)
        return Reach::Unknown;
    m_descriptor = qintptr(socket);
    // Port unreachable is reported to a UDP socket unless SIO_UDP_CONNRESET turned it off (it is on by
    // default): asked for all the same, and a refusal of the request changes nothing.
    constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12); // SIO_UDP_CONNRESET, in mstcpip.h
    BOOL report = TRUE;
    DWORD returned = 0;
    ::WSAIoctl(socket, kUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0)
        return Reach::Unknown;
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), size) != 0 || ::send(socket, "", 0, 0) < 0) {
        const int error = ::WSAGetLastError();
        close();
        return reachOf(error);
    }
    return Reach::Unknown;
}

ProbeSocket::Reach ProbeSocket::pending()
{
    char byte = 0;
    if (::recv(handleOf(m_descriptor), &byte, 1, 0) >= 0) {
        close();
        return Reach::Unknown;
    }
    const Reach reach = reachOf(::WSAGetLastError());
    if (reach != Reach::Unknown)
        close();
    return reach;
}

} // namespace ORVIK
