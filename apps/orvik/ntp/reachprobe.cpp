#include "apps/orvik/ntp/reachprobe.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ORVIK::ReachProbe {

namespace {

#ifdef Q_OS_WIN
using Descriptor = SOCKET;
const Descriptor kNoSocket = INVALID_SOCKET;
#else
using Descriptor = int;
constexpr Descriptor kNoSocket = -1;
#endif

// How often the sockets are asked whether an error came back.
constexpr int kPollMs = 10;

const QString kRefused = QStringLiteral("the connection was refused: ICMP port unreachable");
const QString kHostUnreachable = QStringLiteral("the host is unreachable");
const QString kNetworkUnreachable = QStringLiteral("the network is unreachable");

int lastError()
{
#ifdef Q_OS_WIN
    return ::WSAGetLastError();
#else
    return errno;
#endif
}

// What an error of the system says of the address; empty for one that says nothing of it (no
// datagram yet, among others).
Finding findingOf(int error)
{
    switch (error) {
#ifdef Q_OS_WIN
    // Windows tells a UDP socket of ICMP port unreachable as a reset (SIO_UDP_CONNRESET, on by default).
    case WSAECONNRESET:
    case WSAECONNREFUSED:
        return kRefused;
    case WSAEHOSTUNREACH:
        return kHostUnreachable;
    case WSAENETUNREACH:
    case WSAENETRESET:
        return kNetworkUnreachable;
#else
    case ECONNREFUSED:
        return kRefused;
    case EHOSTUNREACH:
        return kHostUnreachable;
    case ENETUNREACH:
        return kNetworkUnreachable;
#endif
    default:
        return {};
    }
}

// A socket of the system's own, not Qt's: Qt passes an ICMP error on a UDP socket over without a word,
// and on Windows reads it away before anyone can see it.
class Socket
{
public:
    Socket() = default;
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket()
    {
        if (m_descriptor == kNoSocket)
            return;
#ifdef Q_OS_WIN
        ::closesocket(m_descriptor);
#else
        ::close(m_descriptor);
#endif
    }

    // Connects a non-blocking socket to the address and sends it one empty datagram. What an error
    // of either step says, else empty (the datagram left).
    Finding send(const TimeServerAddress &target)
    {
        sockaddr_storage address{};
        socklen_t size = 0;
        if (target.address.protocol() == QAbstractSocket::IPv4Protocol) {
            auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
            v4->sin_family = AF_INET;
            v4->sin_port = htons(target.port);
            v4->sin_addr.s_addr = htonl(target.address.toIPv4Address());
            size = sizeof(sockaddr_in);
        } else {
            auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(target.port);
            const Q_IPV6ADDR bytes = target.address.toIPv6Address();
            std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
            v6->sin6_scope_id = target.address.scopeId().toUInt();
            size = sizeof(sockaddr_in6);
        }
        m_descriptor = ::socket(address.ss_family, SOCK_DGRAM, 0);
        if (m_descriptor == kNoSocket)
            return {};
#ifdef Q_OS_WIN
        u_long nonBlocking = 1;
        // Port unreachable is reported to a UDP socket unless SIO_UDP_CONNRESET turned it off (it is
        // on by default): asked for all the same, and a refusal of the request changes nothing.
        constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12); // SIO_UDP_CONNRESET, in mstcpip.h
        BOOL report = TRUE;
        DWORD returned = 0;
        ::WSAIoctl(m_descriptor, kUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
        const bool ready = ::ioctlsocket(m_descriptor, FIONBIO, &nonBlocking) == 0;
#else
        const bool ready = ::fcntl(m_descriptor, F_SETFL, ::fcntl(m_descriptor, F_GETFL) | O_NONBLOCK) == 0 &&
                           ::fcntl(m_descriptor, F_SETFD, FD_CLOEXEC) == 0;
#endif
        if (!ready)
            return {};
        if (::connect(m_descriptor, reinterpret_cast<const sockaddr *>(&address), size) != 0 ||
            ::send(m_descriptor, "", 0, 0) < 0) {
            const int error = lastError();
            close();
            return findingOf(error);
        }
        return {};
    }

    bool isOpen() const
    {
        return m_descriptor != kNoSocket;
    }

    // What came back so far: empty while nothing did, or when what came is a datagram after all.
    Finding pending()
    {
        char byte = 0;
        if (::recv(m_descriptor, &byte, 1, 0) >= 0) {
            close();
            return {};
        }
        const Finding finding = findingOf(lastError());
        if (!finding.isEmpty())
            close();
        return finding;
    }

private:
    void close()
    {
        Socket closing;
        std::swap(closing.m_descriptor, m_descriptor);
    }

    Descriptor m_descriptor = kNoSocket;
};

} // namespace

QString socketErrorText()
{
    return QStringLiteral("the UDP socket reported an error");
}

std::vector<Finding> run(const std::vector<TimeServerAddress> &addresses, int waitMs)
{
    std::vector<Finding> findings(addresses.size());
    std::vector<Socket> sockets(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i)
        findings[i] = sockets[i].send(addresses[i]);
    const auto open = [&sockets] {
        return std::any_of(sockets.cbegin(), sockets.cend(), [](const Socket &socket) { return socket.isOpen(); });
    };
    if (!open())
        return findings;
    // The sockets are asked in turn until each has told something or the wait is over; the event loop
    // runs meanwhile.
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        for (std::size_t i = 0; i < sockets.size(); ++i)
            if (sockets[i].isOpen())
                findings[i] = sockets[i].pending();
        if (!open() || clock.elapsed() >= waitMs)
            loop.quit();
    });
    poll.start(kPollMs);
    loop.exec();
    return findings;
}

void describe(std::vector<AddressReport> &reports, int waitMs)
{
    std::vector<TimeServerAddress> probed;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const AddressReport &report = reports[i];
        // Every address is Silent until the selection; only one that accepted no answer said nothing.
        const bool silent = report.status == AddressReport::Status::Silent && report.answers == 0;
        if (silent || (report.status == AddressReport::Status::Failed && report.detail == socketErrorText())) {
            probed.push_back(report.server);
            at.push_back(i);
        }
    }
    if (probed.empty())
        return;
    const std::vector<Finding> findings = run(probed, waitMs);
    for (std::size_t k = 0; k < at.size(); ++k) {
        if (findings[k].isEmpty())
            continue;
        AddressReport &report = reports[at[k]];
        report.detail = report.status == AddressReport::Status::Silent
                            ? findings[k]
                            : QStringLiteral("%1 (%2)").arg(findings[k], report.detail);
    }
}

} // namespace ORVIK::ReachProbe
