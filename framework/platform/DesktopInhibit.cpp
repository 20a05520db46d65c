#include "DesktopInhibit.h"
#include "KeepAwakeChannel.h"
#include "SessionBus.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QThread>
#include <QWindow>
#include <memory>
#include <vector>

namespace fw::platform {

namespace {

constexpr auto ScreenSaverName = "org.freedesktop.ScreenSaver";
constexpr auto ScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr auto PortalName = "org.freedesktop.portal.Desktop";
constexpr auto PortalPath = "/org/freedesktop/portal/desktop";
constexpr uint PortalIdle = 8;
// The answers to Inhibit still to come, and to each withdrawal, are waited for this long.
constexpr int AnswerTimeoutMs = 250;
constexpr int ReleaseTimeoutMs = 100;

// Errors that say the desktop does not offer the service: nothing to try again until a
// service takes the name.
bool notOffered(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::NotSupported:
        return true;
    default:
        return error.name().startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
    }
}

struct Service;

// One Inhibit call. Its answer may come after the hold that asked for it has been released,
// after a newer hold has asked again, or from a service that has gone since: what it granted
// is kept only while it belongs to the hold in force, given back to the service that granted
// it, and forgotten when that service has gone.
struct Request {
    Request(Service& asker, QDBusPendingCall asked, QString path)
        : service(asker)
        , call(std::move(asked))
        , handle(std::move(path))
    {
    }
    Service& service;
    QDBusPendingCall call;
    bool settled = false; // given back, refused, forgotten, or kept until the hold's release
    uint cookie = 0;
    QString handle; // the portal's request object, known before the answer
};

// A service on the session bus that can keep the display awake, followed through its owners:
// a desktop shell or portal that restarts forgets what it granted.
struct Service {
    Service(const char* busName, const QString& what, void (*askNow)())
        : name(QString::fromLatin1(busName))
        , ask(askNow)
        , channel(what, askNow)
    {
    }
    const QString name;
    void (*const ask)(); // asks it to keep the display awake, unless already asked
    KeepAwakeChannel channel;
    std::unique_ptr<QDBusServiceWatcher> watcher;
    QString replier; // the unique bus name of the owner that last answered
    std::shared_ptr<Request> current; // asked or granted for the hold in force
};

struct State {
    bool held = false;
    QWindow* window = nullptr; // for the portal's parent window while held
    std::string reason;
    std::vector<std::shared_ptr<Request>> open; // every request not settled yet
};

State s;

void askScreenSaver();
void askPortal();

Service& screenSaver()
{
    static auto* service = new Service(ScreenSaverName, QStringLiteral("the ScreenSaver service"), askScreenSaver);
    return *service;
}

Service& portal()
{
    static auto* service = new Service(PortalName, QStringLiteral("the desktop portal"), askPortal);
    return *service;
}

// Addressed to the very owner that granted the request, where known: a grant never goes to
// a later owner, and one to an owner that has gone fails at the bus.
QDBusMessage giveBackMessage(const Request& request)
{
    const QString to = request.call.isFinished() ? request.call.reply().service() : request.service.name;
    if (&request.service == &portal())
        return QDBusMessage::createMethodCall(to, request.handle, "org.freedesktop.portal.Request", "Close");
    QDBusMessage call = QDBusMessage::createMethodCall(to, ScreenSaverPath, ScreenSaverName, "UnInhibit");
    call.setArguments({ request.cookie });
    return call;
}

// Once a request's answer is in: a refusal is told and tried again, a grant that the hold in
// force needs is kept, and any other is given back to its owner (waited for by the caller when
// it passes `answers`, sent without waiting otherwise).
void settle(const std::shared_ptr<Request>& request, std::vector<QDBusPendingCall>* answers)
{
    if (request->settled || !request->call.isFinished())
        return;
    Service& service = request->service;
    const bool forHold = request == service.current && s.held;
    if (request->call.isError()) {
        request->settled = true;
        std::erase(s.open, request);
        if (!forHold)
            return;
        service.current.reset();
        const QDBusError error = request->call.error();
        if (notOffered(error))
            service.channel.absent();
        else if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout)
            service.channel.failed(QStringLiteral("did not answer in time"));
        else
            service.channel.failed(QStringLiteral("refused: %1").arg(error.message()));
        return;
    }
    service.replier = request->call.reply().service();
    if (&service == &screenSaver())
        request->cookie = QDBusPendingReply<uint>(request->call).value();
    if (forHold) {
        service.channel.held();
        return;
    }
    request->settled = true;
    std::erase(s.open, request);
    if (auto connection = sessionBus()) {
        if (answers)
            answers->push_back(connection->asyncCall(giveBackMessage(*request), ReleaseTimeoutMs));
        else
            connection->call(giveBackMessage(*request), QDBus::NoBlock);
    }
}

void send(Service& service, const QDBusMessage& call, const QString& handle)
{
    auto connection = sessionBus();
    if (!connection)
        return;
    auto request = std::make_shared<Request>(service, connection->asyncCall(call), handle);
    service.current = request;
    s.open.push_back(request);
    auto* watcher = new QDBusPendingCallWatcher(request->call, qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, request] {
        watcher->deleteLater();
        settle(request, nullptr);
    });
}

void askScreenSaver()
{
    if (!s.held || screenSaver().current)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(ScreenSaverName, ScreenSaverPath, ScreenSaverName, "Inhibit");
    call.setArguments({ QGuiApplication::applicationName(), QString::fromStdString(s.reason) });
    send(screenSaver(), call, {});
}

// The portal names its request object after our bus name and a token of our choosing, so
// the path is known before the answer: enough to close the request however late it comes.
void askPortal()
{
    auto connection = sessionBus();
    if (!s.held || portal().current || !connection)
        return;
    const QString token = QStringLiteral("board%1").arg(QRandomGenerator::global()->generate());
    QString sender = connection->baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    QString parent;
    if (s.window && QGuiApplication::platformName() == QLatin1String("xcb"))
        parent = QStringLiteral("x11:%1").arg(s.window->winId(), 0, 16);
    QDBusMessage call = QDBusMessage::createMethodCall(PortalName, PortalPath, "org.freedesktop.portal.Inhibit", "Inhibit");
    call.setArguments({ parent, PortalIdle,
        QVariantMap { { "handle_token", token }, { "reason", QString::fromStdString(s.reason) } } });
    send(portal(), call, handle);
}

// A new owner of the name knows nothing of what the old one granted. The news may come after
// answers from that owner have been read (the bus's own thread takes answers in): then it is
// not news.
void ownerChanged(Service& service, const QString& newOwner)
{
    if (!newOwner.isEmpty() && newOwner == service.replier)
        return;
    service.replier.clear();
    const bool wasHeld = service.current && service.current->call.isFinished() && !service.current->call.isError();
    if (wasHeld) {
        service.current->settled = true;
        std::erase(s.open, service.current);
    }
    service.current.reset();
    if (!s.held)
        return;
    if (wasHeld)
        service.channel.lost(newOwner.isEmpty() ? QStringLiteral("went away") : QStringLiteral("restarted; asking again"));
    if (!newOwner.isEmpty())
        service.ask();
}

void watch(Service& service, QDBusConnection& connection)
{
    if (service.watcher)
        return;
    service.watcher = std::make_unique<QDBusServiceWatcher>(service.name, connection,
        QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(service.watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, qApp,
        [&service](const QString&, const QString&, const QString& newOwner) { ownerChanged(service, newOwner); });
}

}

void DesktopInhibit::inhibit(QWindow* window, const std::string& reason)
{
    auto connection = sessionBus();
    if (s.held || !connection)
        return;
    s.held = true;
    s.window = window;
    s.reason = reason;
    watch(screenSaver(), *connection);
    watch(portal(), *connection);
    // Both are asked, not only the first that grants: the portal answers success also where
    // its backend's request was refused (GNOME's session manager refuses one from a program
    // outside a sandbox), while GNOME's own ScreenSaver service passes the hold on.
    screenSaver().ask();
    portal().ask();
}

void DesktopInhibit::release()
{
    if (!s.held)
        return;
    s.held = false;
    s.window = nullptr;
    std::vector<std::shared_ptr<Request>> unanswered;
    for (Service* service : { &screenSaver(), &portal() }) {
        service->channel.stop();
        service->current.reset();
    }
    std::vector<QDBusPendingCall> answers;
    // Answers still to come are waited for within the bound (the bus has a thread of its own
    // that takes them in), so that a grant that comes late is given back too, also at quit.
    // One that comes later still is given back when it comes; a portal request is closed now,
    // its path being known.
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    for (const std::shared_ptr<Request>& request : std::vector(s.open)) {
        while (!request->call.isFinished() && !deadline.hasExpired())
            QThread::msleep(2);
        settle(request, &answers);
        if (!request->settled && &request->service == &portal())
            unanswered.push_back(request);
    }
    if (auto connection = sessionBus()) {
        for (const std::shared_ptr<Request>& request : unanswered)
            answers.push_back(connection->asyncCall(giveBackMessage(*request), ReleaseTimeoutMs));
    }
    // Everything goes out at once; each answer, or its time-out, ends the wait for it.
    for (QDBusPendingCall& answer : answers)
        answer.waitForFinished();
}

}
