#include "apps/orvik/ntp/reachprobe.h"

#include <QEventLoop>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <sys/socket.h>
#endif

namespace ORVIK::ReachProbe {

namespace {

const QString kRefused = QStringLiteral("the connection was refused: ICMP port unreachable");
const QString kHostUnreachable = QStringLiteral("the host is unreachable");
const QString kNetworkUnreachable = QStringLiteral("the network is unreachable");

// The error that a connected socket holds, read straight from it: Qt passes a refused datagram over
// without a word. Empty while there is none, or when what came is a datagram after all.
Finding pendingError(QUdpSocket &socket)
{
    char byte = 0;
    const auto descriptor = socket.socketDescriptor();
#ifdef Q_OS_WIN
    // WSAECONNRESET is how Windows tells a UDP socket of ICMP port unreachable.
    if (::recv(SOCKET(descriptor), &byte, 1, 0) != SOCKET_ERROR)
        return {};
    switch (::WSAGetLastError()) {
    case WSAECONNRESET:
    case WSAECONNREFUSED:
        return kRefused;
    case WSAEHOSTUNREACH:
        return kHostUnreachable;
    case WSAENETUNREACH:
    case WSAENETRESET:
        return kNetworkUnreachable;
    default:
        return {};
    }
#else
    if (::recv(int(descriptor), &byte, 1, MSG_DONTWAIT) >= 0)
        return {};
    switch (errno) {
    case ECONNREFUSED:
        return kRefused;
    case EHOSTUNREACH:
        return kHostUnreachable;
    case ENETUNREACH:
        return kNetworkUnreachable;
    default:
        return {};
    }
#endif
}

// What Qt says of a datagram that could not even leave.
Finding sendError(const QUdpSocket &socket)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return kRefused;
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
        return QStringLiteral("no datagram can be sent to it: ") + socket.errorString();
    default:
        return {};
    }
}

} // namespace

QString socketErrorText()
{
    return QStringLiteral("the UDP socket reported an error");
}

std::vector<Finding> run(const std::vector<TimeServerAddress> &addresses, int waitMs)
{
    std::vector<Finding> findings(addresses.size());
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    QEventLoop loop;
    std::size_t waiting = 0;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        auto socket = std::make_unique<QUdpSocket>();
        socket->connectToHost(addresses[i].address, addresses[i].port);
        if (socket->state() != QAbstractSocket::ConnectedState || socket->write(QByteArray()) < 0) {
            findings[i] = sendError(*socket);
            continue;
        }
        QUdpSocket *probe = socket.get();
        QObject::connect(probe, &QUdpSocket::readyRead, &loop, [&, probe, i] {
            if (!findings[i].isEmpty())
                return;
            findings[i] = pendingError(*probe);
            if (findings[i].isEmpty())
                return;
            // Told: this socket has nothing more to say.
            probe->close();
            if (--waiting == 0)
                loop.quit();
        });
        ++waiting;
        sockets.push_back(std::move(socket));
    }
    if (waiting == 0)
        return findings;
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return findings;
}

void describe(std::vector<AddressReport> &reports, int waitMs)
{
    std::vector<TimeServerAddress> probed;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const AddressReport &report = reports[i];
        const bool silent = report.status == AddressReport::Status::Silent;
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
