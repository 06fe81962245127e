#include "apps/orvik/ntp/reachprobe.h"

#include "apps/orvik/ntp/probesocket.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace ORVIK::ReachProbe {

namespace {

// How often the sockets are asked whether an error came back.
constexpr int kPollMs = 10;

Finding findingOf(ProbeSocket::Reach reach)
{
    switch (reach) {
    case ProbeSocket::Reach::Refused:
        return QStringLiteral("the connection was refused: ICMP port unreachable");
    case ProbeSocket::Reach::HostUnreachable:
        return QStringLiteral("the host is unreachable");
    case ProbeSocket::Reach::NetworkUnreachable:
        return QStringLiteral("the network is unreachable");
    case ProbeSocket::Reach::Unknown:
        break;
    }
    return {};
}

} // namespace

QString socketErrorText()
{
    return QStringLiteral("the UDP socket reported an error");
}

std::vector<Finding> run(const std::vector<TimeServerAddress> &addresses, int waitMs)
{
    std::vector<Finding> findings(addresses.size());
    std::vector<ProbeSocket> sockets(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i)
        findings[i] = findingOf(sockets[i].send(addresses[i].address, addresses[i].port));
    const auto open = [&sockets] {
        return std::any_of(sockets.cbegin(), sockets.cend(), [](const ProbeSocket &socket) { return socket.isOpen(); });
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
                findings[i] = findingOf(sockets[i].pending());
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
