#include "SessionBus.h"

#include <QFileInfo>

namespace fw::platform {

bool haveSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

void useOnlyARunningSessionBus()
{
    // Without a bus, the D-Bus library would start one of its own for the program (through
    // dbus-launch, where installed) as soon as anything asked for it: a bus nobody else
    // listens on, a process left behind and files written under the home folder. An address
    // that names no transport makes every such request fail at once instead.
    if (!haveSessionBus())
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
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
