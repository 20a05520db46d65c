// The only file that reaches the toolkit's private platform interface: Qt gives a window's
// wl_display and wl_surface through it alone.
#include "WaylandClient.h"
#include "Wait.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QWindow>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace fw::platform {

namespace {

void onSyncDone(void* data, wl_callback*, uint32_t)
{
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener SyncListener = { onSyncDone };

// wl_display_roundtrip_queue() without its unbounded wait: asks on `sender` (a wrapper for
// `queue`, or the connection itself with `queue` null for its default queue) and waits, within
// the bound, for the answer. Events are read the way libwayland asks of several readers, since
// the toolkit's own thread may read the same connection.
bool boundedRoundTrip(wl_display* connection, wl_event_queue* queue, wl_display* sender,
    int milliseconds = RoundTripTimeoutMs)
{
    bool done = false;
    bool broken = false;
    wl_callback* callback = wl_display_sync(sender);
    wl_callback_add_listener(callback, &SyncListener, &done);
    const auto dispatch = [&] {
        return queue ? wl_display_dispatch_queue_pending(connection, queue) : wl_display_dispatch_pending(connection);
    };
    const auto readAWhile = [&](int msLeft) {
        if ((queue ? wl_display_prepare_read_queue(connection, queue) : wl_display_prepare_read(connection)) != 0) {
            broken = dispatch() < 0;
            return;
        }
        wl_display_flush(connection);
        pollfd readable { wl_display_get_fd(connection), POLLIN, 0 };
        if (::poll(&readable, 1, msLeft) > 0)
            broken = wl_display_read_events(connection) < 0;
        else
            wl_display_cancel_read(connection);
        broken = broken || dispatch() < 0;
    };
    waitWithin(QDeadlineTimer(milliseconds), [&] { return done || broken; }, readAWhile);
    wl_callback_destroy(callback);
    return done;
}

// The layer's queue follows the toolkit's connection: the toolkit's application object keeps
// it, under this name, until end(), before the toolkit disconnects.
constexpr char QueueKeeperName[] = "fw-wayland-queue";

void logThroughToolkit(const char* format, va_list arguments)
{
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    QMessageLogger(nullptr, 0, nullptr, "qt.qpa.wayland.libwayland").warning("%s", QByteArray(line).trimmed().constData());
}

}

void routeWaylandLogThroughToolkit()
{
    wl_log_set_handler_client(logThroughToolkit);
}

bool compositorDrawsTitleBars()
{
    if (std::getenv("WAYLAND_SOCKET"))
        return false;
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool offered = false;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0)
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    const bool answered = boundedRoundTrip(display, nullptr, display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && offered;
}

wl_display* waylandDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
}

wl_surface* waylandSurface(QWindow* window)
{
    // A window has a surface only once the toolkit has made its platform window.
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native || !window || !window->handle() || !waylandDisplay())
        return nullptr;
    return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
}

struct WaylandQueue::Global {
    uint32_t name;
    std::string interface;
    uint32_t version;
};

void WaylandQueue::onGlobal(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version)
{
    static_cast<WaylandQueue*>(data)->m_globals.push_back({ name, interface, version });
}

void WaylandQueue::onGlobalRemove(void* data, wl_registry*, uint32_t name)
{
    std::erase_if(static_cast<WaylandQueue*>(data)->m_globals, [name](const Global& global) { return global.name == name; });
}

class WaylandQueue::Keeper : public QObject {
public:
    explicit Keeper(wl_display* display)
        : QObject(qApp)
        , queue(display)
    {
        setObjectName(QueueKeeperName);
    }
    WaylandQueue queue;
};

WaylandQueue* WaylandQueue::get()
{
    if (!qApp)
        return nullptr;
    auto* keeper = static_cast<Keeper*>(qApp->findChild<QObject*>(QueueKeeperName, Qt::FindDirectChildrenOnly));
    if (!keeper) {
        wl_display* display = waylandDisplay();
        if (!display)
            return nullptr;
        keeper = new Keeper(display);
    }
    return &keeper->queue;
}

void WaylandQueue::end()
{
    if (qApp)
        delete qApp->findChild<QObject*>(QueueKeeperName, Qt::FindDirectChildrenOnly);
}

WaylandQueue::WaylandQueue(wl_display* display)
    : connection(display)
    , queue(wl_display_create_queue(display))
    , sender(static_cast<wl_display*>(wl_proxy_create_wrapper(display)))
{
    static const wl_registry_listener listener = { onGlobal, onGlobalRemove };
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(sender), queue);
    m_registry = wl_display_get_registry(sender);
    wl_registry_add_listener(m_registry, &listener, this);
}

WaylandQueue::~WaylandQueue()
{
    for (const Kept& kept : m_kept) {
        if (kept.object)
            kept.destroy(kept.object);
    }
    wl_registry_destroy(m_registry);
    wl_proxy_wrapper_destroy(sender);
    wl_display_flush(connection);
    wl_event_queue_destroy(queue);
}

bool WaylandQueue::roundTrip(int milliseconds)
{
    return boundedRoundTrip(connection, queue, sender, milliseconds);
}

void* WaylandQueue::bind(const wl_interface* interface, unsigned version, bool* answered)
{
    // The globals come with the registry's first answer, and any later one with the next: a
    // round trip brings the list up to date.
    const bool inTime = roundTrip();
    if (answered)
        *answered = inTime;
    if (!inTime)
        return nullptr;
    for (const Global& global : m_globals) {
        if (global.interface == interface->name && global.version >= version)
            return wl_registry_bind(m_registry, global.name, interface, version);
    }
    return nullptr;
}

void* WaylandQueue::bindOnce(const wl_interface* interface, unsigned version, void (*destroy)(void*), bool* answered)
{
    for (const Kept& kept : m_kept) {
        if (kept.interface == interface) {
            if (answered)
                *answered = true;
            return kept.object;
        }
    }
    bool inTime = false;
    void* object = bind(interface, version, &inTime);
    if (answered)
        *answered = inTime;
    if (inTime)
        m_kept.push_back({ interface, object, destroy });
    return object;
}

void WaylandQueue::flush()
{
    wl_display_flush(connection);
}

}
