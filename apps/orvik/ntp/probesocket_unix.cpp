#include "apps/orvik/ntp/probesocket.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ORVIK {

namespace {

ProbeSocket::Reach reachOf(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return ProbeSocket::Reach::Refused;
    case EHOSTUNREACH:
        return ProbeSocket::Reach::HostUnreachable;
    case ENETUNREACH:
        return ProbeSocket::Reach::NetworkUnreachable;
    default:
        return ProbeSocket::Reach::Unknown;
    }
}

} // namespace

ProbeSocket::~ProbeSocket()
{
    close();
}

void ProbeSocket::close()
{
    if (m_descriptor != kNoSocket)
        ::close(int(m_descriptor));
    m_descriptor = kNoSocket;
}

ProbeSocket::Reach ProbeSocket::send(const QHostAddress &target, quint16 port)
{
    sockaddr_storage address{};
    socklen_t size = 0;
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
    const int descriptor = ::socket(address.ss_family, SOCK_DGRAM, 0);
    if (descriptor < 0)
        return Reach::Unknown;
    m_descriptor = descriptor;
    const bool ready = ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK) == 0 &&
                       ::fcntl(descriptor, F_SETFD, FD_CLOEXEC) == 0;
    if (!ready)
        return Reach::Unknown;
    if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), size) != 0 ||
        ::send(descriptor, "", 0, 0) < 0) {
        const int error = errno;
        close();
        return reachOf(error);
    }
    return Reach::Unknown;
}

ProbeSocket::Reach ProbeSocket::pending()
{
    char byte = 0;
    if (::recv(int(m_descriptor), &byte, 1, 0) >= 0) {
        close();
        return Reach::Unknown;
    }
    const Reach reach = reachOf(errno);
    if (reach != Reach::Unknown)
        close();
    return reach;
}

} // namespace ORVIK
