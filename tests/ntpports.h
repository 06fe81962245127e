#pragma once

#include <QString>
#include <QUdpSocket>

// The time client always listens on UDP 42912..42914. Test runs serialise on these ports through a
// file lock (see tests/CMakeLists.txt), so a port that is still taken belongs to another program:
// the cases that need the ports then skip instead of failing.
inline QString ntpPortsBusy()
{
    for (quint16 port = 42912; port <= 42914; ++port) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress))
            return QStringLiteral("UDP port %1 is in use by another program; the time client needs 42912 to 42914")
                .arg(port);
    }
    return {};
}

#define ORVIK_SKIP_WITHOUT_NTP_PORTS()                                                                                 \
    do {                                                                                                               \
        const QString busy = ntpPortsBusy();                                                                           \
        if (!busy.isEmpty())                                                                                           \
            QSKIP(qPrintable(busy));                                                                                   \
    } while (false)
