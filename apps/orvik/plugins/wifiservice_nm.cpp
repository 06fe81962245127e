#include "apps/orvik/plugins/wifiservice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>

namespace ORVIK {

QString wifiServiceProblem(bool *locationDenied)
{
    *locationDenied = false;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return QStringLiteral("the system bus cannot be reached (%1)").arg(bus.lastError().message());
    const QDBusReply<bool> registered =
        bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.NetworkManager"));
    if (!registered.isValid())
        return QStringLiteral("the system bus did not answer (%1)").arg(registered.error().message());
    return registered.value() ? QString() : QStringLiteral("NetworkManager is not running");
}

} // namespace ORVIK
