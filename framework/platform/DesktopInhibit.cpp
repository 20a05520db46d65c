#include "DesktopInhibit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QThread>
#include <QWindow>
#include <memory>
#include <optional>
#include <vector>

namespace fw {

namespace {

constexpr auto ScreenSaver = "org.freedesktop.ScreenSaver";
constexpr auto ScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr auto Portal = "org.freedesktop.portal.Desktop";
constexpr auto PortalPath = "/org/freedesktop/portal/desktop";
constexpr uint PortalIdle = 8;
// The answers to Inhibit still to come, and to each withdrawal, are waited for this long.
constexpr int AnswerTimeoutMs = 250;
constexpr int ReleaseTimeoutMs = 100;

// One Inhibit call to the ScreenSaver service. Its answer may come after the hold that asked
// for it has been released, or after a newer hold has asked again: a cookie is kept only while
// it belongs to the hold in force, and any other is given back as soon as it is known.
struct Request {
    explicit Request(QDBusPendingCall asked)
        : call(std::move(asked))
    {
    }
    QDBusPendingCall call;
    bool settled = false; // given back, refused, or kept by the hold in force until its release
};

struct State {
    bool held = false;
    std::shared_ptr<Request> current; // the request of the hold in force
    std::vector<std::shared_ptr<Request>> open; // every request not settled yet
    QString portalRequest; // the request's object path, known before the answer
};

State s;

// A session bus the desktop set up, named in the environment or at its usual place.
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

// Once a request's answer is in: a refusal is forgotten, a cookie that the hold in force
// still needs is kept, and any other is given back (waited for by the caller when it passes
// `answers`, sent without waiting otherwise).
void settle(const std::shared_ptr<Request>& request, std::vector<QDBusPendingCall>* answers)
{
    if (request->settled || !request->call.isFinished())
        return;
    const QDBusPendingReply<uint> reply = request->call;
    const bool granted = !reply.isError();
    if (granted && request == s.current && s.held)
        return;
    request->settled = true;
    std::erase(s.open, request);
    if (!granted)
        return;
    if (auto connection = bus()) {
        if (answers)
            answers->push_back(connection->asyncCall(unInhibitMessage(reply.value()), ReleaseTimeoutMs));
        else
            connection->call(unInhibitMessage(reply.value()), QDBus::NoBlock);
    }
}

void inhibitScreenSaver(QDBusConnection& connection, const std::string& reason)
{
    QDBusMessage call = QDBusMessage::createMethodCall(ScreenSaver, ScreenSaverPath, ScreenSaver, "Inhibit");
    call.setArguments({ QGuiApplication::applicationName(), QString::fromStdString(reason) });
    auto request = std::make_shared<Request>(connection.asyncCall(call));
    s.current = request;
    s.open.push_back(request);
    auto* watcher = new QDBusPendingCallWatcher(request->call, qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, request] {
        watcher->deleteLater();
        settle(request, nullptr);
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

void DesktopInhibit::useOnlyARunningSessionBus()
{
    // Without a bus, the D-Bus library would start one of its own for the program (through
    // dbus-launch, where installed) as soon as anything asked for it: a bus nobody else
    // listens on, a process left behind and files written under the home folder. An address
    // that names no transport makes every such request fail at once instead.
    if (!haveSessionBus())
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
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
    std::vector<QDBusPendingCall> answers;
    // Answers still to come are waited for within the bound (the bus has a thread of its own
    // that takes them in), so that a cookie granted late is given back too, also at quit. One
    // that comes later still is given back when it comes.
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    for (const std::shared_ptr<Request>& request : std::vector(s.open)) {
        while (!request->call.isFinished() && !deadline.hasExpired())
            QThread::msleep(2);
        settle(request, &answers);
    }
    s.current.reset();
    auto connection = bus();
    if (connection && !s.portalRequest.isEmpty()) {
        answers.push_back(connection->asyncCall(QDBusMessage::createMethodCall(
            Portal, s.portalRequest, "org.freedesktop.portal.Request", "Close"), ReleaseTimeoutMs));
    }
    s.portalRequest.clear();
    // Everything goes out at once; each answer, or its time-out, ends the wait for it.
    for (QDBusPendingCall& answer : answers)
        answer.waitForFinished();
}

}
