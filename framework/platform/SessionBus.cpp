#include "SessionBus.h"

#include <QFileInfo>

namespace fw {

bool haveSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

std::optional<QDBusConnection> sessionBus()
{
    if (!haveSessionBus())
        return std::nullopt;
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.isConnected())
        return std::nullopt;
    return connection;
}

}
