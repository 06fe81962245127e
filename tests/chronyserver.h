#pragma once

#include "tests/testprocess.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <memory>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

// Debian's chronyd as a real NTP server on a free loopback port of 127.0.0.1, leaving ::1 to a relay
// (-4): in the foreground (-d), never adjusting the clock (-x), configured by the directives on its
// command line, serving its own clock as stratum 8. As root it keeps its privileges (its own user could
// not write the temporary folder), else it skips the root check. Stopped when destroyed.
class ChronyServer
{
public:
    // Empty when chrony is not installed.
    static QString program()
    {
        return QStandardPaths::findExecutable(QStringLiteral("chronyd"), {"/usr/sbin", "/sbin"});
    }

    ChronyServer() = default;
    ChronyServer(const ChronyServer &) = delete;
    ChronyServer &operator=(const ChronyServer &) = delete;
    ~ChronyServer() { endProcess(m_process); }

    // Starts it on a free port, with more directives if given; false with the reason in error().
    bool start(const QStringList &directives = {})
    {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
            return fail(probe.errorString());
        m_port = probe.localPort();
        probe.close(); // the port that the system gave it is free for chronyd
        if (!m_dir.isValid())
            return fail(QStringLiteral("no temporary folder"));
#ifndef Q_OS_WIN
        const QString user = geteuid() == 0 ? QStringLiteral("-uroot") : QStringLiteral("-U");
#else
        const QString user = QStringLiteral("-U");
#endif
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program(),
                        QStringList{"-4", "-d", "-x", user, QStringLiteral("port %1").arg(m_port),
                                    "bindaddress 127.0.0.1", "allow 127.0.0.1", "local stratum 8", "cmdport 0",
                                    "pidfile " + m_dir.filePath(QStringLiteral("chronyd.pid"))} +
                            directives);
        if (!m_process.waitForStarted(10000))
            return fail(m_process.errorString());
        return true;
    }

    // Asks it once a second, for up to `attempts`, until it answers: it needs a moment to bind.
    bool waitUntilServing(int attempts = 20)
    {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0))
            return fail(socket.errorString());
        QByteArray request(48, '\0');
        request[0] = 0x23; // version 4, client
        for (int attempt = 0; attempt < attempts; ++attempt) {
            QSignalSpy ready(&socket, &QUdpSocket::readyRead);
            socket.writeDatagram(request, QHostAddress(QHostAddress::LocalHost), m_port);
            if (ready.wait(1000))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                break;
        }
        return fail(QStringLiteral("chronyd does not answer: ") + QString::fromLocal8Bit(m_process.readAll()));
    }

    // Hands a request to chronyd through a loopback socket of its own and returns its reply if one comes
    // within 2 s: what a relay that records the exchange in front of chronyd answers.
    QList<QByteArray> ask(const QByteArray &request)
    {
        if (m_upstream.state() != QAbstractSocket::BoundState &&
            !m_upstream.bind(QHostAddress(QHostAddress::LocalHost), 0))
            return {};
        while (m_upstream.hasPendingDatagrams())
            m_upstream.receiveDatagram(); // a late answer to an earlier request
        m_upstream.writeDatagram(request, QHostAddress(QHostAddress::LocalHost), m_port);
        if (!m_upstream.waitForReadyRead(2000))
            return {};
        return {m_upstream.receiveDatagram().data()};
    }

    // Its own temporary folder, for files that its directives name.
    QString filePath(const QString &name) const
    {
        return m_dir.filePath(name);
    }

    quint16 port() const noexcept
    {
        return m_port;
    }
    const QString &error() const noexcept
    {
        return m_error;
    }

private:
    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    QUdpSocket m_upstream;
    quint16 m_port = 0;
    QString m_error;
};
