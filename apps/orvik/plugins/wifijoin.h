#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTextStream>

#include <utility>

class QDBusMessage;

namespace ORVIK {

// Joins a WiFi network through NetworkManager on the system bus: adds and activates a connection
// for the SSID on the device that sees it with the strongest signal, then waits until the
// connection is activated or has failed. Whether the user may do so is polkit's decision, which
// NetworkManager reports as an error.
class WifiJoin : public QObject
{
    Q_OBJECT
public:
    WifiJoin(QTextStream &out, QTextStream &err);
    ~WifiJoin() override;

    // Joins the network with these SSID bytes, with WPA-PSK when a password is given. Prints the
    // outcome and returns the exit code: 0 when activated, 1 otherwise.
    int join(const QByteArray &ssid, const QString &password);

private Q_SLOTS:
    void activeStateChanged(uint state, uint reason, const QDBusMessage &signal);

private:
    struct Sighting
    {
        QString device;
        QString interfaceName;
        QString accessPoint;
        int strength = -1;
    };

    QDBusMessage call(const QString &path, const char *interface, const char *method,
                      const QVariantList &arguments = {}, int timeoutMs = -1) const;
    bool networkManagerRuns() const;
    Sighting strongestSighting(const QByteArray &ssid) const;
    // The final state and reason of an active connection, once it has one.
    std::pair<uint, uint> outcome(const QString &activeConnection);

    QTextStream &m_out;
    QTextStream &m_err;
    QDBusConnection m_bus;
    bool m_watching = false;
    QHash<QString, std::pair<uint, uint>> m_states; // last state and reason per active connection
    QString m_waitingFor;
    QEventLoop m_wait;
};

} // namespace ORVIK
