#include "DesktopInhibit.h"
#include "SessionBus.h"
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QWindow>
#include <utility>
#include <vector>

namespace fw::platform {

namespace {

constexpr auto ScreenSaverName = "org.freedesktop.ScreenSaver";
constexpr auto ScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr auto PortalName = "org.freedesktop.portal.Desktop";
constexpr auto PortalPath = "/org/freedesktop/portal/desktop";
constexpr uint PortalIdle = 8;
// The answers to Inhibit still to come, and to each give-back, are waited for this long.
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

}

// One Inhibit call: the call itself, and once judged, what it came to.
struct DesktopInhibit::Request {
    explicit Request(QDBusPendingCall asked)
        : call(std::move(asked))
    {
    }
    QDBusPendingCall call;
    QString handle; // the portal's request object, known before the answer
    unsigned ownerChangesAsked = 0; // the owner changes told before it was asked
    bool judged = false;
    QString grantedBy; // the unique bus name of the owner that granted it
    uint cookie = 0;

    // Takes in the answer, a grant.
    void granted(Service service)
    {
        grantedBy = call.reply().service();
        if (service == ScreenSaver)
            cookie = QDBusPendingReply<uint>(call).value();
    }
};

DesktopInhibit::DesktopInhibit(Service service, QWindow* window, const std::string& reason, QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_name(QString::fromLatin1(service == ScreenSaver ? ScreenSaverName : PortalName))
    , m_window(window)
    , m_reason(QString::fromStdString(reason))
    , m_channel(service == ScreenSaver ? QStringLiteral("the ScreenSaver service") : QStringLiteral("the desktop portal"),
          [this] { ask(); })
{
    auto connection = sessionBus();
    if (!connection)
        return;
    auto* watcher = new QDBusServiceWatcher(m_name, *connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString&, const QString& oldOwner, const QString& newOwner) { ownerChanged(oldOwner, newOwner); });
    ask();
}

DesktopInhibit::~DesktopInhibit()
{
    giveBack({ this });
}

void DesktopInhibit::ask()
{
    auto connection = sessionBus();
    if (!m_holding || m_current || !connection)
        return;
    QDBusMessage call;
    QString handle;
    if (m_service == ScreenSaver) {
        call = QDBusMessage::createMethodCall(m_name, ScreenSaverPath, ScreenSaverName, "Inhibit");
        call.setArguments({ QGuiApplication::applicationName(), m_reason });
    } else {
        // The portal names its request object after our bus name and a token of our choosing,
        // so the path is known before the answer: enough to close the request however late
        // the answer comes.
        const QString token = QStringLiteral("board%1").arg(QRandomGenerator::global()->generate());
        QString sender = connection->baseService();
        sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
        handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        QString parent;
        if (m_window && QGuiApplication::platformName() == QLatin1String("xcb"))
            parent = QStringLiteral("x11:%1").arg(m_window->winId(), 0, 16);
        call = QDBusMessage::createMethodCall(m_name, PortalPath, "org.freedesktop.portal.Inhibit", "Inhibit");
        call.setArguments({ parent, PortalIdle, QVariantMap { { "handle_token", token }, { "reason", m_reason } } });
    }
    auto request = std::make_shared<Request>(connection->asyncCall(call));
    request->handle = handle;
    request->ownerChangesAsked = m_ownerChanges;
    m_current = request;
    auto* watcher = new QDBusPendingCallWatcher(request->call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, request] {
        watcher->deleteLater();
        judge(request);
    });
}

// On the main thread, once the answer is in (the bus's own thread takes answers in, and
// tells of them later): a refusal is told and tried again, a grant is kept for the hold.
void DesktopInhibit::judge(std::shared_ptr<Request> request)
{
    if (request->judged || !request->call.isFinished())
        return;
    request->judged = true;
    if (request->call.isError()) {
        if (request != m_current)
            return;
        m_current.reset();
        const QDBusError error = request->call.error();
        if (notOffered(error))
            m_channel.absent();
        else if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout)
            m_channel.failed(QStringLiteral("did not answer in time"));
        else
            m_channel.failed(QStringLiteral("refused: %1").arg(error.message()));
        return;
    }
    request->granted(m_service);
    if (request != m_current)
        return;
    // Granted by an owner that gave the name up after it was asked: no hold on the desktop as
    // it is now. The grant goes back to its owner, and the owner there is now is asked.
    if (m_ownerChanges != request->ownerChangesAsked && request->grantedBy != m_owner) {
        m_current.reset();
        if (auto connection = sessionBus())
            connection->call(giveBackMessage(m_service, m_name, *request), QDBus::NoBlock);
        if (m_holding && !m_owner.isEmpty())
            ask();
        return;
    }
    if (m_holding)
        m_channel.held();
}

// Addressed to the very owner that granted the request: a grant never goes to a later owner,
// and one to an owner that has gone fails at the bus.
QDBusMessage DesktopInhibit::giveBackMessage(Service service, const QString& name, const Request& request)
{
    const QString to = request.grantedBy.isEmpty() ? name : request.grantedBy;
    if (service == Portal)
        return QDBusMessage::createMethodCall(to, request.handle, "org.freedesktop.portal.Request", "Close");
    QDBusMessage call = QDBusMessage::createMethodCall(to, ScreenSaverPath, ScreenSaverName, "UnInhibit");
    call.setArguments({ request.cookie });
    return call;
}

// A new owner of the name knows nothing of what the old one granted; but the owner that our
// own call started (the bus starts a service on demand) is the one that answers it. The news
// may come after the answer has been read: the answer is judged first.
void DesktopInhibit::ownerChanged(const QString& oldOwner, const QString& newOwner)
{
    if (m_current)
        judge(m_current);
    m_owner = newOwner;
    ++m_ownerChanges;
    if (!m_holding)
        return;
    if (!m_current) {
        if (!newOwner.isEmpty())
            ask();
        return;
    }
    if (!m_current->judged || oldOwner.isEmpty() || m_current->grantedBy != oldOwner)
        return; // still to be answered, or granted by the owner there is now
    // Handed over, or gone: the old owner's grant goes back to it (where it has gone, the bus
    // says so, and nothing waits for that).
    if (auto connection = sessionBus())
        connection->call(giveBackMessage(m_service, m_name, *m_current), QDBus::NoBlock);
    m_current.reset();
    m_channel.lost(newOwner.isEmpty() ? QStringLiteral("went away") : QStringLiteral("restarted; asking again"));
    if (!newOwner.isEmpty())
        ask();
}

void DesktopInhibit::giveBack(std::initializer_list<DesktopInhibit*> inhibits)
{
    auto connection = sessionBus();
    std::vector<std::pair<DesktopInhibit*, std::shared_ptr<Request>>> requests;
    for (DesktopInhibit* inhibit : inhibits) {
        if (!inhibit->m_holding)
            continue;
        inhibit->m_holding = false;
        inhibit->m_channel.stop();
        if (inhibit->m_current)
            requests.emplace_back(inhibit, std::exchange(inhibit->m_current, nullptr));
    }
    if (!connection)
        return;
    // Answers still to come are waited for within the bound, so that a grant that comes late
    // is given back too, also at quit. A portal request is closed at once, its path being
    // known; a cookie that comes later still is given back when it comes.
    std::vector<QDBusPendingCall> answers;
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    for (auto& [inhibit, request] : requests) {
        const bool answered = inhibit->m_service == Portal
            || waitWithin(deadline, [&call = request->call] { return call.isFinished(); });
        if (answered && request->call.isFinished())
            inhibit->judge(request);
        if (request->call.isFinished() && request->call.isError())
            continue;
        if (answered) {
            answers.push_back(connection->asyncCall(giveBackMessage(inhibit->m_service, inhibit->m_name, *request), ReleaseTimeoutMs));
            continue;
        }
        auto* late = new QDBusPendingCallWatcher(request->call, qApp);
        connect(late, &QDBusPendingCallWatcher::finished, qApp, [late, request, service = inhibit->m_service] {
            late->deleteLater();
            if (request->call.isError())
                return;
            request->granted(service);
            if (auto bus = sessionBus())
                bus->call(giveBackMessage(service, request->grantedBy, *request), QDBus::NoBlock);
        });
    }
    // Everything goes out at once; each answer, or its time-out, ends the wait for it.
    for (QDBusPendingCall& answer : answers)
        answer.waitForFinished();
}

}
