#include "DesktopInhibit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QWindow>
#include <optional>
#include <vector>

namespace fw {

namespace {

constexpr auto ScreenSaver = "org.freedesktop.ScreenSaver";
constexpr auto ScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr auto Portal = "org.freedesktop.portal.Desktop";
constexpr auto PortalPath = "/org/freedesktop/portal/desktop";
constexpr uint PortalIdle = 8;
constexpr int ReleaseTimeoutMs = 100;

// What was asked for and, once the answers came, granted. A release may come before them.
struct State {
    bool held = false;
    bool cookieArrived = false;
    uint cookie = 0;
    QString portalRequest; // the request's object path, known before the answer
};

State s;

// A session bus the desktop set up. Without one, asking for it could make the D-Bus library
// launch a bus of its own, which would outlive the program.
bool haveSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// The toolkit keeps the connection; this is a handle to it, or none.
std::optional<QDBusConnection> bus()
{
    if (!haveSessionBus())
        return std::nullopt;
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.isConnected())
        return std::nullopt;
    return connection;
}

QDBusMessage unInhibitMessage(uint cookie)
{
    QDBusMessage call = QDBusMessage::createMethodCall(ScreenSaver, ScreenSaverPath, ScreenSaver, "UnInhibit");
    call.setArguments({ cookie });
    return call;
}

void inhibitScreenSaver(QDBusConnection& connection, const std::string& reason)
{
    QDBusMessage call = QDBusMessage::createMethodCall(ScreenSaver, ScreenSaverPath, ScreenSaver, "Inhibit");
    call.setArguments({ QGuiApplication::applicationName(), QString::fromStdString(reason) });
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError())
            return;
        if (!s.held) { // released meanwhile: give it back at once
            if (auto connection = bus())
                connection->call(unInhibitMessage(reply.value()), QDBus::NoBlock);
            return;
        }
        s.cookie = reply.value();
        s.cookieArrived = true;
    });
}

// The portal names its request object after our bus name and a token of our choosing, so
// the path is known before the answer: enough to close the request later.
void inhibitThroughPortal(QDBusConnection& connection, QWindow* window, const std::string& reason)
{
    const QString token = QStringLiteral("board%1").arg(QRandomGenerator::global()->generate());
    QString sender = connection.baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    s.portalRequest = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    QString parent;
    if (window && QGuiApplication::platformName() == QLatin1String("xcb"))
        parent = QStringLiteral("x11:%1").arg(window->winId(), 0, 16);
    QDBusMessage call = QDBusMessage::createMethodCall(Portal, PortalPath, "org.freedesktop.portal.Inhibit", "Inhibit");
    call.setArguments({ parent, PortalIdle,
        QVariantMap { { "handle_token", token }, { "reason", QString::fromStdString(reason) } } });
    connection.call(call, QDBus::NoBlock);
}

}

void DesktopInhibit::inhibit(QWindow* window, const std::string& reason)
{
    auto connection = bus();
    if (s.held || !connection)
        return;
    s.held = true;
    inhibitScreenSaver(*connection, reason);
    inhibitThroughPortal(*connection, window, reason);
}

void DesktopInhibit::release()
{
    if (!s.held)
        return;
    s.held = false;
    auto connection = bus();
    if (!connection)
        return;
    std::vector<QDBusPendingCall> answers;
    if (s.cookieArrived)
        answers.push_back(connection->asyncCall(unInhibitMessage(s.cookie), ReleaseTimeoutMs));
    if (!s.portalRequest.isEmpty()) {
        answers.push_back(connection->asyncCall(QDBusMessage::createMethodCall(
            Portal, s.portalRequest, "org.freedesktop.portal.Request", "Close"), ReleaseTimeoutMs));
    }
    // Both go out at once; each answer, or its time-out, ends the wait for it.
    for (QDBusPendingCall& answer : answers)
        answer.waitForFinished();
    s = State {};
}

}
